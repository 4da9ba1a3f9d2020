library(testthat)
library(ecodyn)
test_check("ecodyn")
