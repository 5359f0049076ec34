library(testthat)
library(tolbe)
test_check("tolbe")
