# The web page's program: the command-line tool compiled to WebAssembly by
# Emscripten, with the built-in kernels (web/build.sh):
#   emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release \
#     -DTOLBE_BUILTIN_BLAS=ON -DTOLBE_BUILD_TESTS=OFF
# It writes web/tolbe.js (the loader) and web/tolbe.wasm beside index.html.
if(NOT TOLBE_BUILTIN_BLAS)
  message(FATAL_ERROR "the web page needs the built-in kernels: -DTOLBE_BUILTIN_BLAS=ON")
endif()
add_executable(tolbe_web src/program/web/web_main.cc)
target_link_libraries(tolbe_web PRIVATE tolbe_driver tolbe_errors)
target_include_directories(tolbe_web PRIVATE ${PROJECT_SOURCE_DIR}/src/program)
set_target_properties(tolbe_web PROPERTIES
  OUTPUT_NAME tolbe
  SUFFIX .js
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_SOURCE_DIR}/web)
# A factory (createTolbe) that the page calls once; main runs per command line
# and the run-time stays between calls. Memory grows with a large data file.
target_link_options(tolbe_web PRIVATE
  -sMODULARIZE=1
  -sEXPORT_NAME=createTolbe
  -sINVOKE_RUN=0
  -sEXIT_RUNTIME=0
  -sALLOW_MEMORY_GROWTH=1
  -sFORCE_FILESYSTEM=1
  -sENVIRONMENT=web,node
  "-sEXPORTED_RUNTIME_METHODS=['callMain','FS']")
