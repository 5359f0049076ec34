#pragma once

// The console program's declared entry into the library's internals, and
// its only one: the program (src/program) reaches the library through the
// public headers (<tolbe/...>) and, for what they do not offer, through
// this header alone. tests/program/library_entry_test.cc keeps it so.
//
// The classic console run corrects in fixed storage and allocates nothing,
// so it runs the correction's own steps on its own matrices (Matrix,
// LawleyWork, lawley_correct: correction/lawley.h); and it defines the hook
// through which the BLAS routines report an invalid argument (xerbla_:
// kernels/blas.h). What else the program may need from inside the library
// is added here, so that all it depends on is one list. A change behind it
// must keep the program's report byte for byte.

#include "correction/lawley.h"
#include "correction/matrix.h"
#include "kernels/blas.h"
