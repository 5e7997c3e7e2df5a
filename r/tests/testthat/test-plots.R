# The figures compared with stored SVG snapshots (vdiffr) at three sizes: 480x480 and
# 1600x900 pixels (at 72 per inch) and an A4 page. The factors are set by hand, so the
# drawings do not depend on the engine's draws: an ordinary one, 0, Inf, 1e-36 (far
# beyond the others) and an exact equality without a complement.
fit <- bf_proportions(c(a = 7, b = 5, c = 3, d = 9), c(10, 10, 10, 10),
                      c(H1 = "a > b > c; d > 0.5", H2 = "a = b", H3 = "a < 0.2", H4 = "d > 0.99999",
                        H5 = "c > d"), niter = 2000, seed = 1, threads = 2, progress = FALSE)
set_factor <- function(fit, name, value, lower, upper) {
  fit$hypotheses[[name]]$bf_unconstrained <- value
  fit$hypotheses[[name]]$bf_unconstrained_interval <- c(lower, upper)
  # Against the complement: ten times as large, none for the equality.
  complement <- if (name == "H2") NA_real_ else 10 * c(value, lower, upper)
  fit$hypotheses[[name]]$bf_complement <- complement[1]
  fit$hypotheses[[name]]$bf_complement_interval <- if (name == "H2") c(NA_real_, NA_real_) else complement[2:3]
  fit
}
fit <- set_factor(fit, "H1", 7.5, 6.75, 8.43)
fit <- set_factor(fit, "H2", 1.38, 1.38, 1.38)
fit <- set_factor(fit, "H3", 0, 0, 0.0006)
fit <- set_factor(fit, "H4", Inf, 3.9, Inf)
fit <- set_factor(fit, "H5", 1e-36, 1e-37, 1e-35)
# The estimates: exact posterior intervals, shifted a little per hypothesis.
for (k in seq_along(fit$hypotheses)) {
  estimates <- fit$unconstrained_estimates
  estimates$mean <- estimates$mean + 0.01 * k
  fit$hypotheses[[k]]$estimates <- estimates
}

test_that("the factor axis shows the intervals and marks what lies beyond it", {
  layout <- propbf:::factor_layout(as.data.frame(fit))
  expect_lte(diff(layout$limits), 8 * 1.12 + 1e-9)
  rows <- layout$rows
  expect_identical(rows$beyond, c(0L, 0L, -1L, 1L, -1L))
  expect_true(all(rows$x[rows$beyond == -1L] == layout$limits[1]))
  expect_identical(rows$x[4], layout$limits[2])
  expect_true(all(is.finite(rows$x)))
  # Within the limits, every factor and interval end is shown as it is.
  expect_equal(rows$x[1:2], log10(c(7.5, 1.38)))
  given <- propbf:::factor_layout(as.data.frame(fit), xlim = c(0.1, 100))
  expect_identical(given$limits, c(-1, 2))
  expect_error(propbf:::factor_layout(as.data.frame(fit), xlim = c(0, 1)), class = "propbf_argument_error")
})

test_that("the figures draw without a warning on small and large devices", {
  for (size in list(c(480, 480), c(1000, 600), c(1600, 900))) {
    file <- tempfile(fileext = ".png")
    grDevices::png(file, size[1], size[2])
    expect_silent(plot(fit))
    grDevices::dev.off()
    expect_gt(file.size(file), 0)
  }
  file <- tempfile(fileext = ".pdf")
  grDevices::pdf(file)
  expect_silent(plot(fit, which = "factors", main = "Factors", col = "darkred", cex = 0.9))
  grDevices::dev.off()
})

test_that("the figures match their snapshots at three sizes", {
  skip_if_not_installed("vdiffr")
  sizes <- list(small = c(480, 480) / 72, wide = c(1600, 900) / 72, page = c(8.27, 11.69))
  for (size in names(sizes)) {
    writer <- sized_snapshot(sizes[[size]][1], sizes[[size]][2])
    vdiffr::expect_doppelganger(paste("factors and estimates", size), function() plot(fit), writer = writer)
    vdiffr::expect_doppelganger(paste("factors against the complement", size),
                                function() plot(fit, which = "factors", factor = "complement", labels = FALSE),
                                writer = writer)
  }
})

test_that("autoplot() gives a ggplot of the factors", {
  skip_if_not_installed("ggplot2")
  plot <- ggplot2::autoplot(fit)
  expect_s3_class(plot, "ggplot")
  expect_identical(nrow(plot$data), 5L)
  expect_identical(plot$data$label, c("7.5", "1.38", "0", "Inf", "1e-36"))
})
