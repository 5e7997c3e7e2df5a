library(testthat)
library(propbf)

test_check("propbf")
