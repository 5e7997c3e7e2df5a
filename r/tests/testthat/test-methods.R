# coef() and confint(): types, names and values, Inf and 0 kept as the engine gives them.
fit <- bf_proportions(c(a = 7, b = 5, c = 3), c(10, 10, 10), c(H1 = "a > b > c", H2 = "a > 0.5"),
                      niter = 2000, seed = 1, threads = 1, progress = FALSE)

test_that("coef() is the named means of one hypothesis", {
  cases <- list(list(hypothesis = NULL, name = "H1"), list(hypothesis = 2L, name = "H2"),
                list(hypothesis = "H2", name = "H2"))
  for (case in cases) {
    means <- if (is.null(case$hypothesis)) coef(fit) else coef(fit, hypothesis = case$hypothesis)
    expect_type(means, "double")
    expect_named(means, c("a", "b", "c"))
    expect_equal(unname(means), fit$hypotheses[[case$name]]$estimates$mean)
  }
  expect_error(coef(fit, hypothesis = "H9"), "no hypothesis named 'H9'")
})

test_that("confint() gives the factors' intervals per hypothesis", {
  cases <- list(list(factor = NULL, member = "bf_unconstrained_interval"),
                list(factor = "unconstrained", member = "bf_unconstrained_interval"),
                list(factor = "complement", member = "bf_complement_interval"))
  for (case in cases) {
    ends <- if (is.null(case$factor)) confint(fit) else confint(fit, factor = case$factor)
    expect_true(is.matrix(ends) && is.double(ends))
    expect_equal(dimnames(ends), list(c("H1", "H2"), c("2.5 %", "97.5 %")))
    for (h in c("H1", "H2")) expect_equal(unname(ends[h, ]), fit$hypotheses[[h]][[case$member]])
  }
  expect_equal(rownames(confint(fit, "H2")), "H2")
  expect_error(confint(fit, level = 0.9), "0.95 only")
})

test_that("infinite and zero factors stay Inf and 0", {
  # Seed 2 draws no prior point above 0.99999 but some posterior ones: an infinite factor.
  infinite <- bf_proportions(c(a = 100), 100, c(H = "a > 0.99999"), niter = 20000, seed = 2, threads = 1,
                             progress = FALSE)
  zero <- bf_proportions(c(a = 100), 100, c(H = "a < 0.3"), niter = 2000, seed = 1, threads = 1,
                         progress = FALSE)
  cases <- list(list(fit = infinite, factor = Inf, upper = Inf), list(fit = zero, factor = 0, lower = 0))
  for (case in cases) {
    expect_identical(case$fit$hypotheses$H$bf_unconstrained, case$factor)
    expect_identical(as.data.frame(case$fit)$bf_unconstrained, case$factor)
    ends <- confint(case$fit)
    expect_false(anyNA(ends))
    if (!is.null(case$upper)) expect_identical(ends[["H", "97.5 %"]], case$upper)
    if (!is.null(case$lower)) expect_identical(ends[["H", "2.5 %"]], case$lower)
  }
})
