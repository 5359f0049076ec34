# The extension's functions, as the tolbe package calls them. Matrices are
# float64 arrays; results are Fortran-ordered arrays.
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

def quick(v: Any, s: Any, diagnose: bool) -> Optional[Tuple[np.ndarray, np.ndarray]]: ...
def operational(cor: np.ndarray, criterion_reliabilities: np.ndarray) -> np.ndarray: ...
def default_predictors(q: int, criterion: int, criteria: Sequence[int]) -> List[int]: ...
def version() -> str: ...

# (code, argument, variables from 0, message as UTF-8 bytes)
Refusal = Tuple[str, str, List[int], bytes]
# None (absent), or (kind: 1 numbers, 2 texts, 3 neither; values; names)
Given = Optional[Tuple[int, Optional[List[Any]], Optional[List[bytes]]]]

class Request:
    refusal: Optional[Refusal]
    def resolved(self) -> Dict[str, Any]: ...
    def fit(self, v: Optional[np.ndarray], s: Optional[np.ndarray], data: Optional[np.ndarray],
            pool: Optional[np.ndarray], triangle: str, diagnostics: bool, seed: int
            ) -> Dict[str, Any]: ...
    def ask(self, v: np.ndarray, s: np.ndarray, data: Optional[np.ndarray],
            pool: Optional[np.ndarray], seed: int, criterion: Given, predictors: Given,
            added: Given) -> Tuple[Any, ...]: ...

def sources_refusal(restricted: bool, data: bool, unrestricted: bool, pool: bool,
                    restricted_means: bool, unrestricted_means: bool
                    ) -> Optional[Tuple[str, str, str]]: ...
def resolve(q: int, names: Optional[List[bytes]], from_data: bool, p: int,
            unrestricted_names: Optional[List[bytes]], from_pool: bool,
            unrestricted: Optional[np.ndarray], mirrors_triangle: bool,
            arguments: Dict[str, Given]) -> Request: ...
def validity_offset(k: int, part: int) -> int: ...
VALIDITY_B: int
VALIDITY_BETA: int
VALIDITY_VALIDITY: int
VALIDITY_OPERATIONAL_VALIDITY: int
VALIDITY_R2: int
VALIDITY_R: int
VALIDITY_OPERATIONAL_R: int
VALIDITY_BASE_R2: int
VALIDITY_DELTA_R2: int
VALIDITY_DELTA_R: int
def correct_studies(r: np.ndarray, n: np.ndarray, method: int, ux: np.ndarray, uy: np.ndarray,
                    rxx: np.ndarray, ryy: np.ndarray, rxx_sample: np.ndarray,
                    ryy_sample: np.ndarray, sign_xz: np.ndarray, sign_yz: np.ndarray,
                    level: float) -> Tuple[List[Optional[str]], Dict[str, np.ndarray]]: ...
def study_problem_message(name: str) -> str: ...
