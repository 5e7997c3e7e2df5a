# bf_multinomial(): items of categories with Dirichlet priors, hypotheses in the language
# and as R matrices.
figures <- c("complexity", "fit", "bf_unconstrained", "bf_unconstrained_interval", "bf_complement")

test_that("a trinomial with Dirichlet(1, 1, 1) ordered has complexity 1/6; estimates per category", {
  fit <- bf_multinomial(matrix(c(20, 12, 8), 1, dimnames = list("x", c("a", "b", "c"))),
                        c(order = "x[1] > x[2] > x[3]"), niter = 4000, seed = 1, threads = 1, progress = FALSE)
  expect_s3_class(fit, "propbf")
  expect_equal(fit$hypotheses$order$complexity, 1 / 6, tolerance = 0.03)
  expect_identical(names(coef(fit)), c("x[a]", "x[b]", "x[c]"))
  expect_equal(sum(coef(fit)), 1, tolerance = 1e-12)
  expect_identical(fit$unconstrained_estimates$category, c("a", "b", "c"))
  expect_equal(fit$unconstrained_estimates$mean, c(21, 13, 9) / 43, tolerance = 1e-12)
  expect_identical(nrow(as.data.frame(fit)), 1L)
  expect_length(bf_report(fit), 1L)
  expect_match(capture.output(summary(fit))[1], "^Bayes factors for 1 item, 1 hypothesis")
  # Samples: every category, on the simplex and in the order.
  draws <- samples(fit, "order")
  expect_identical(colnames(draws), c("x[a]", "x[b]", "x[c]"))
  expect_equal(unname(rowSums(draws)), rep(1, nrow(draws)), tolerance = 1e-12)
  expect_true(all(draws[, 1] > draws[, 2] & draws[, 2] > draws[, 3]))
})

test_that("the counts as a list, as a data frame of counts and of observations give the same numbers", {
  matrix_form <- bf_multinomial(matrix(c(21, 24, 5, 2, 43, 5), 2, byrow = TRUE, dimnames = list(c("ab", "bc"), NULL)),
                                c(H1 = "ab[2] > ab[1]; bc[3] < 0.2"), niter = 2000, threads = 1, progress = FALSE)
  list_form <- bf_multinomial(list(ab = c(21, 24, 5), bc = c(2, 43, 5)), c(H1 = "ab[2] > ab[1]; bc[3] < 0.2"),
                              niter = 2000, threads = 1, progress = FALSE)
  counted <- data.frame(item = rep(c("ab", "bc"), each = 3), category = rep(c("1", "2", "3"), 2),
                        n = c(21, 24, 5, 2, 43, 5))
  frame_form <- bf_multinomial(data = counted, item = "item", category = "category", count = "n",
                               hypotheses = c(H1 = "ab[2] > ab[1]; bc[3] < 0.2"), niter = 2000, threads = 1,
                               progress = FALSE)
  observed <- counted[rep(seq_len(nrow(counted)), counted$n), c("item", "category")]
  row_form <- bf_multinomial(data = observed, item = "item", category = "category",
                             hypotheses = c(H1 = "ab[2] > ab[1]; bc[3] < 0.2"), niter = 2000, threads = 1,
                             progress = FALSE)
  for (other in list(list_form, frame_form, row_form)) {
    expect_identical(other$hypotheses$H1[figures], matrix_form$hypotheses$H1[figures])
  }
})

test_that("bf_multinomial() gives the numbers of propbf evaluate on examples/ternary.toml", {
  cli <- Sys.getenv("PROPBF_CLI")
  skip_if(cli == "", "PROPBF_CLI does not name the propbf program")
  example <- file.path(test_path(), "..", "..", "..", "examples", "ternary.toml")
  skip_if_not(file.exists(example), "examples/ternary.toml is not beside the package")
  json <- tempfile(fileext = ".json")
  status <- system2(cli, c("evaluate", example, "--json", json, "--threads", 1), stdout = FALSE, stderr = FALSE)
  expect_equal(status, 0L)
  without_problem <- function(text) sub('\n  "problem": "[^\n]*', "", text)
  expected <- paste(readLines(json, encoding = "UTF-8"), collapse = "\n")
  for (threads in c(1, 2)) {
    from_r <- propbf:::run_categories(TRUE, list(ab = c(21, 24, 5), bc = c(2, 43, 5)),
                                      c(order = 'ab["b>a"] > ab["a>b"] > ab["a=b"]', ties = "ab[3] < 0.2; bc[3] < 0.2"),
                                      list(c("a>b", "b>a", "a=b"), c("b>c", "c>b", "b=c")), 1, NULL, NULL, NULL, NULL,
                                      NULL, NULL, threads, NULL, NULL, NULL, NULL, FALSE)
    expect_identical(without_problem(sub("\n$", "", from_r)), without_problem(expected))
  }
})

test_that("a restriction matrix and vertices give the numbers of the same restrictions in the language", {
  counts <- list(x = c(14, 9, 7), y = c(5, 10, 15))
  # x[1] > x[2] and x[2] > x[3] = 1 - x[1] - x[2]; y[1] < 0.3.
  A <- matrix(c(-1, 1, 0, -1, -2, 0, 0, 0, 1), 3, byrow = TRUE, dimnames = list(NULL, c("x[1]", "x[2]", "y[1]")))
  b <- c(0, -1, 0.3)
  text <- c(H = "x[1] > x[2]; x[1] + 2 * x[2] > 1; y[1] < 0.3")
  run <- function(...) bf_multinomial(counts, niter = 3000, threads = 1, progress = FALSE, ...)
  language <- run(text)
  matrix_form <- run(polytopes = list(H = list(A = A, b = b)))
  expect_identical(matrix_form$hypotheses$H[figures], language$hypotheses$H[figures])
  expect_identical(matrix_form$hypotheses$H$hypothesis, "matrix polytopes$H$A")
  expect_identical(matrix_form$hypotheses$H$restrictions[[2]]$text, "polytopes$H$A[2, ]")
  # Beside text: the text's restrictions first, then the matrix's rows.
  beside <- run(c(H = "x[1] > x[2]"), polytopes = list(H = list(A = A[2:3, ], b = b[2:3])))
  expect_identical(beside$hypotheses$H[figures], language$hypotheses$H[figures])
  # The triangle x[1] >= x[2] >= x[3] as its vertices: three facets.
  V <- matrix(c(1, 0, 1 / 2, 1 / 2, 1 / 3, 1 / 3), 3, byrow = TRUE, dimnames = list(NULL, c("x[1]", "x[2]")))
  hull <- run(polytopes = list(T = list(V = V)))
  expect_identical(hull$hypotheses$T$facets, 3)
  expect_equal(hull$hypotheses$T$complexity, 1 / 6, tolerance = 0.05)
})

test_that("hostile input is an R error with the engine's message", {
  run <- function(...) bf_multinomial(niter = 200, threads = 1, progress = FALSE, ...)
  expect_error(run(list(x = c(1, 2, 3), y = c(4, 5)), "x[1] > x[2]", categories = list(c("a", "b", "c"), c("a", "b", "c"))),
               "item 'y' has 3 category names but 2 counts", class = "propbf_input_error")
  expect_error(run(list(x = c(1, -2, 3)), "x[1] > x[2]"), "item 'x': the count of category 2 is negative",
               class = "propbf_input_error")
  expect_error(run(list(x = c(1, 2, 3), y = c(1, 2)), "x[1] > x[2]", prior = c(1, 1, 1)),
               "'prior' has 3 values but there are 2 items", class = "propbf_input_error")
  expect_error(run(list(x = c(1, 2, 3)), "x[1] > x[2]", prior = list(c(1, 2))),
               "item 'x' has 2 prior concentrations but 3 categories", class = "propbf_input_error")
  A <- matrix(c(1, -1), 1, dimnames = list(NULL, c("x[1]", "x[3]")))
  expect_error(run(list(x = c(1, 2, 3)), polytopes = list(H = list(A = A, b = 0))),
               "polytopes\\$H\\$A:1:2: column 2 is named 'x\\[3\\]', which is no free parameter of the items; the parameters are x\\[1\\], x\\[2\\]",
               class = "propbf_input_error")
  expect_error(run(list(x = c(1, 2, 3)), "x[4] > x[1]"), "hypotheses:1:", class = "propbf_input_error")
  expect_error(run(list(x = c(1, 2, 3)), polytopes = list(H = list(A = A))), "needs its right-hand side b",
               class = "propbf_argument_error")
})

test_that("equalities tie the categories of an item in closed form", {
  counts <- matrix(c(12, 9, 4), 1, dimnames = list("x", NULL))
  fit <- bf_multinomial(counts, c(all = "x[1] = x[2] = x[3]", point = "x[1] = 0.2", mixed = "x[1] = x[2] > x[3]"),
                        niter = 2000, seed = 1, threads = 1, progress = FALSE)
  # Dirichlet(1, 1, 1): the ratio of posterior to prior density at (1/3, 1/3, 1/3), and
  # Savage-Dickey on the beta marginal of x[1].
  ln_all <- -25 * log(3) - (lgamma(13) + lgamma(10) + lgamma(5) - lgamma(28) - log(0.5))
  expect_equal(log(fit$hypotheses$all$bf_unconstrained), ln_all, tolerance = 1e-12)
  expect_equal(fit$hypotheses$point$bf_unconstrained, dbeta(0.2, 13, 15) / dbeta(0.2, 1, 2), tolerance = 1e-12)
  # x[1] = x[2] > x[3] is u > 2/3 for u = x[1] + x[2], uniform a priori.
  expect_equal(fit$hypotheses$mixed$complexity, 1 / 3, tolerance = 0.1)
  expect_error(bf_multinomial(counts, c(H = "x[1] = 0.6; x[2] = 0.5"), niter = 100, threads = 1, progress = FALSE),
               "leaves its other categories nothing")
})

test_that("equalities beside inequalities on a larger item draw it on its simplex", {
  counts <- list(x = c(12, 9, 4, 7), a = c(3, 7), b = c(5, 4))
  fit <- bf_multinomial(counts, c(merged = "x[1] = x[2] > x[3]", beside = "a = b; x[1] > x[2] > x[3]"),
                        niter = 4000, seed = 1, threads = 1, progress = FALSE, samples = TRUE)
  # x[1] = x[2] > x[3] is u > 2 x[3] for u = x[1] + x[2], Dirichlet(1, 1, 1) under the tie:
  # probability 1/3; x[1] > x[2] > x[3] of Dirichlet(1, 1, 1, 1) is 1/6.
  expect_equal(fit$hypotheses$merged$complexity, 1 / 3, tolerance = 0.05)
  expect_equal(fit$hypotheses$beside$complexity, 1 / 6, tolerance = 0.1)
  merged <- samples(fit)$merged
  expect_equal(merged[, "x[1]"], merged[, "x[2]"])
  expect_true(all(merged[, "x[2]"] > merged[, "x[3]"]))
  expect_equal(rowSums(merged[, c("x[1]", "x[2]", "x[3]", "x[4]")]), rep(1, nrow(merged)), tolerance = 1e-12)
})
