# Base-graphics figures for a paper: the factors of the hypotheses on a log axis with
# their intervals, and the items' posterior estimates per model. Every margin is
# computed from the labels it holds (strwidth, strheight), so nothing is clipped from
# 480x480 pixels to a full page; the legend sits below the data, outside them.

# Where each hypothesis's factor and interval stand on the log axis. The axis shows at
# most `decades` powers of ten (when more would be needed, the window that holds the
# most factors, then the one holding 1): what lies beyond, and factors of 0 or Inf, are
# drawn at the axis's edge and marked with their value. NA (a factor the engine does
# not define) is drawn as such.
factor_layout <- function(table, factor = "unconstrained", decades = 8, xlim = NULL) {
  value <- table[[paste0("bf_", factor)]]
  lower <- table[[paste0("bf_", factor, "_lower")]]
  upper <- table[[paste0("bf_", factor, "_upper")]]
  usable <- function(v) v[!is.na(v) & is.finite(v) & v > 0]
  if (!is.null(xlim)) {
    if (!is.numeric(xlim) || length(xlim) != 2L || any(!is.finite(xlim)) || any(xlim <= 0) || xlim[1] >= xlim[2]) {
      argument_error("'xlim' must be two increasing positive numbers (the factor axis is logarithmic)")
    }
    limits <- log10(xlim)
  } else {
    centres <- log10(usable(value))
    ends <- log10(usable(c(value, lower, upper, 1)))
    if (diff(range(ends)) > decades && length(centres) > 0L) {
      starts <- c(centres, centres - decades)
      count <- vapply(starts, function(a) sum(centres >= a & centres <= a + decades), 0)
      holds_one <- starts <= 0 & starts + decades >= 0
      best <- order(-count, -holds_one, abs(starts + decades / 2 - stats::median(centres)))[1L]
      window <- c(starts[best], starts[best] + decades)
      inside <- ends[ends >= window[1] & ends <= window[2]]
      limits <- range(inside)
    } else {
      limits <- range(ends)
    }
    if (diff(limits) < 1) limits <- mean(limits) + c(-0.5, 0.5)
    limits <- limits + c(-1, 1) * 0.06 * diff(limits)
  }
  position <- function(v) {
    out <- rep(NA_real_, length(v))
    known <- !is.na(v)
    logged <- suppressWarnings(log10(v[known]))
    out[known] <- pmin(pmax(logged, limits[1]), limits[2])
    out
  }
  side <- function(v) {
    out <- rep(0L, length(v))
    known <- !is.na(v)
    logged <- suppressWarnings(log10(v[known]))
    out[known] <- ifelse(logged < limits[1], -1L, ifelse(logged > limits[2], 1L, 0L))
    out
  }
  list(limits = limits,
       rows = data.frame(name = table$name, value = value, lower = lower, upper = upper,
                         x = position(value), x_lower = position(lower), x_upper = position(upper),
                         beyond = side(value), lower_beyond = side(lower), upper_beyond = side(upper),
                         stringsAsFactors = FALSE))
}

# Powers of ten on the log axis (every k-th when there are many), written as numbers
# from 0.001 to 1000 and as 10^k beyond; within three decades, R's own 1-2-5 ticks.
log_axis <- function(limits, side = 1, ...) {
  low <- ceiling(limits[1])
  high <- floor(limits[2])
  if (high - low < 3) {
    at <- grDevices::axisTicks(limits, log = TRUE, nint = 6)
    axis(side, at = log10(at), labels = format(at, trim = TRUE, drop0trailing = TRUE), ...)
    return(invisible())
  }
  # Every k-th power, so that the widest label fits one and a half times between two.
  widest <- max(strwidth(c(format(10^c(-3, 3), scientific = FALSE), "10^-10"), "inches", cex = par("cex.axis")))
  per_power <- par("pin")[1] / diff(limits)
  step <- max(1L, ceiling(1.5 * widest / per_power), ceiling((high - low) / 8))
  powers <- seq(low, high, by = step)
  labels <- lapply(powers, function(k) if (abs(k) <= 3) format(10^k, scientific = FALSE) else bquote(10^.(k)))
  axis(side, at = powers, labels = as.expression(labels), ...)
}

# Words wrapped into lines no wider than `inches`.
wrap_to <- function(text, inches, cex = 1, font = 1) {
  if (is.null(text) || !nzchar(text)) return(character())
  words <- strsplit(text, " ", fixed = TRUE)[[1]]
  lines <- character()
  current <- ""
  for (word in words) {
    trial <- if (nzchar(current)) paste(current, word) else word
    if (nzchar(current) && strwidth(trial, "inches", cex = cex, font = font) > inches) {
      lines <- c(lines, current)
      current <- word
    } else {
      current <- trial
    }
  }
  c(lines, current)
}

# The graphics arguments of `...` sorted out: titles, the symbols' look, the factor
# axis's range, and the rest for par().
plot_arguments <- function(...) {
  dots <- list(...)
  take <- c("main", "xlab", "sub", "col", "pch", "lwd", "xlim")
  list(own = dots[intersect(names(dots), take)], par = dots[setdiff(names(dots), take)])
}

plot.propbf <- function(x, which = c("factors", "estimates"), factor = c("unconstrained", "complement"),
                        decades = 8, labels = TRUE, ...) {
  which <- match.arg(which, several.ok = TRUE)
  factor <- match.arg(factor)
  arguments <- plot_arguments(...)
  old <- par(no.readonly = TRUE)
  on.exit(par(old))
  if (length(arguments$par) > 0L) do.call(par, arguments$par)
  own <- arguments$own
  pick <- function(member, k) if (is.null(own[[member]])) NULL else rep_len(own[[member]], length(which))[k]
  side_by_side <- length(which) == 2L && par("din")[1] >= 1.25 * par("din")[2]
  if (length(which) == 2L) {
    if (side_by_side) {
      layout(matrix(1:2, 1L), widths = c(1, 1))
    } else {
      # One above the other: the factors take from 35% to 50% of the height.
      rows <- nrow(as.data.frame(x))
      lines <- length(x$hypotheses) + 1
      factors <- 2 * rows + 4
      share <- min(0.5, max(0.35, factors / (factors + nrow(x$unconstrained_estimates) * lines * 0.6 + 6)))
      layout(matrix(1:2, 2L), heights = c(share, 1 - share))
    }
  }
  for (k in seq_along(which)) {
    if (which[k] == "factors") {
      plot_factors(as.data.frame(x), factor = factor, decades = decades, labels = labels, main = pick("main", k),
                   xlab = pick("xlab", k), sub = pick("sub", k), col = own$col, pch = own$pch, lwd = own$lwd,
                   xlim = own$xlim)
    } else {
      plot_estimates(estimates_table(x), main = pick("main", k), xlab = pick("xlab", k), sub = pick("sub", k),
                     col = own$col, pch = own$pch, lwd = own$lwd)
    }
  }
  invisible(x)
}

# The margins (inches) of a panel: left for the row labels, below for the axis, its
# label's lines and `below` inches more, above for the title's lines.
panel_margins <- function(row_labels, xlab_lines, main_lines, below = 0) {
  line <- par("csi") * par("cex")
  label_width <- max(strwidth(row_labels, "inches", cex = par("cex.axis")), 0)
  c(line * (1.3 + max(0.2, par("mgp")[2])) + line * 1.1 * length(xlab_lines) + below + 0.1,
    label_width + line * (max(0.2, par("mgp")[2]) + 0.8) + 0.1,
    line * 1.25 * length(main_lines) + 0.2,
    line * 1.2)
}

# The margins, cut in proportion where they would leave the data less than a third of
# the panel (a panel too small for its labels is crowded, never an error).
set_margins <- function(mai) {
  room <- par("fin")
  for (axis in 1:2) {
    sides <- if (axis == 1) c(2L, 4L) else c(1L, 3L)
    most <- room[axis] * 2 / 3
    if (sum(mai[sides]) > most) mai[sides] <- mai[sides] * most / sum(mai[sides])
  }
  par(mai = mai)
}

# The width (inches) of the current panel's figure region (after its plot.new()).
panel_width <- function() {
  par("fin")[1]
}

plot_factors <- function(table, factor = "unconstrained", decades = 8, labels = TRUE, main = NULL, xlab = NULL,
                         sub = NULL, col = NULL, pch = NULL, lwd = NULL, xlim = NULL) {
  par(mai = c(0, 0, 0, 0))  # the margins are set below, from the labels
  plot.new()
  n <- nrow(table)
  if (is.null(main)) {
    main <- paste("Bayes factors against the", if (factor == "unconstrained") "unconstrained hypothesis" else
      "complement")
  }
  if (is.null(xlab)) xlab <- "Bayes factor (log scale) and 95% interval"
  if (is.null(col)) col <- "black"
  if (is.null(pch)) pch <- 19
  if (is.null(lwd)) lwd <- 2
  width <- panel_width()
  guess <- width - max(strwidth(table$name, "inches", cex = par("cex.axis")), 0) - 0.5
  main_lines <- wrap_to(main, guess, cex = par("cex.main"), font = par("font.main"))
  xlab_lines <- wrap_to(xlab, guess, cex = par("cex.lab"))
  set_margins(panel_margins(table$name, xlab_lines, main_lines))
  layout <- factor_layout(table, factor, decades, xlim)
  rows <- layout$rows
  y <- rev(seq_len(n))
  plot.window(xlim = layout$limits, ylim = c(0.4, n + 0.6), xaxs = "i")
  if (layout$limits[1] < 0 && layout$limits[2] > 0) abline(v = 0, lty = 2, col = "grey50")
  col <- rep_len(col, n)
  pch <- rep_len(pch, n)
  edge <- function(beyond) ifelse(beyond < 0, layout$limits[1], layout$limits[2])
  arrow <- 0.025 * diff(layout$limits)
  for (i in seq_len(n)) {
    r <- rows[i, ]
    if (is.na(r$value)) {
      text(mean(layout$limits), y[i], "not defined", col = "grey40", cex = 0.9)
      next
    }
    if (!is.na(r$x_lower) && !is.na(r$x_upper)) {
      segments(r$x_lower, y[i], r$x_upper, y[i], lwd = lwd, col = col[i])
      if (r$lower_beyond != 0) arrows(r$x_lower + arrow, y[i], r$x_lower, y[i], length = 0.06, lwd = lwd, col = col[i])
      if (r$upper_beyond != 0) arrows(r$x_upper - arrow, y[i], r$x_upper, y[i], length = 0.06, lwd = lwd, col = col[i])
    }
    if (r$beyond == 0) {
      points(r$x, y[i], pch = pch[i], col = col[i], cex = 1.2)
    } else {
      # Beyond the axis (0, Inf or too far): an open mark at the edge, an arrow outwards.
      at <- edge(r$beyond)
      points(at - r$beyond * arrow, y[i], pch = 1, col = col[i], cex = 1.2, lwd = 1.5)
      arrows(at - r$beyond * 2 * arrow, y[i], at, y[i], length = 0.08, lwd = lwd, col = col[i])
    }
    if (isTRUE(labels) || r$beyond != 0) {
      adj <- if (r$beyond < 0 || r$x <= layout$limits[1] + 0.1 * diff(layout$limits)) 0 else
        if (r$beyond > 0 || r$x >= layout$limits[2] - 0.1 * diff(layout$limits)) 1 else 0.5
      text(r$x, y[i] + 0.22, format_figure(r$value, 3), adj = c(adj, 0), cex = 0.85, col = col[i], xpd = NA)
    }
  }
  log_axis(layout$limits, 1)
  axis(2, at = y, labels = table$name, las = 1, tick = FALSE)
  box()
  title(main = paste(main_lines, collapse = "\n"), sub = sub)
  line <- par("mgp")[2] + 1.3
  mtext(xlab_lines, side = 1, line = line + 1.1 * (seq_along(xlab_lines) - 1) * par("cex.lab"),
        cex = par("cex.lab") * par("cex"))
}

plot_estimates <- function(estimates, main = NULL, xlab = NULL, sub = NULL, col = NULL, pch = NULL, lwd = NULL) {
  par(mai = c(0, 0, 0, 0))  # the margins are set below, from the labels
  plot.new()
  items <- unique(estimates$name)
  models <- unique(estimates$model)
  if (is.null(main)) main <- "Posterior estimates of the proportions"
  if (is.null(xlab)) xlab <- "proportion: posterior mean and 95% interval"
  colours <- if (is.null(col)) grDevices::hcl.colors(max(length(models), 2L), "Dark 3")[seq_along(models)] else
    rep_len(col, length(models))
  if (is.null(pch)) pch <- 19
  if (is.null(lwd)) lwd <- 2
  pch <- rep_len(pch, length(models))
  width <- panel_width()
  guess <- width - max(strwidth(items, "inches", cex = par("cex.axis")), 0) - 0.5
  main_lines <- wrap_to(main, guess, cex = par("cex.main"), font = par("font.main"))
  xlab_lines <- wrap_to(xlab, guess, cex = par("cex.lab"))
  # The legend below the axis label: as many columns as fit the panel's width.
  legend_cex <- 0.85
  line <- par("csi") * par("cex")
  entry <- 1.25 * max(strwidth(models, "inches", cex = legend_cex)) + 3.5 * line * legend_cex
  columns <- max(1L, min(length(models), floor(max(guess, entry) / entry)))
  legend_rows <- ceiling(length(models) / columns)
  legend_height <- legend_rows * line * legend_cex * 1.25 + 0.15
  set_margins(panel_margins(items, xlab_lines, main_lines, below = legend_height))
  plot.window(xlim = c(0, 1), ylim = c(0.5, length(items) + 0.5), xaxs = "i")
  offset <- if (length(models) > 1L) seq(-0.3, 0.3, length.out = length(models)) else 0
  for (m in seq_along(models)) {
    rows <- estimates[estimates$model == models[m], ]
    y <- length(items) + 1 - match(rows$name, items) - offset[m]
    segments(rows$lower, y, rows$upper, y, col = colours[m], lwd = lwd)
    points(rows$mean, y, pch = pch[m], col = colours[m])
  }
  axis(1)
  axis(2, at = rev(seq_along(items)), labels = items, las = 1, tick = FALSE)
  box()
  title(main = paste(main_lines, collapse = "\n"), sub = sub)
  label_line <- par("mgp")[2] + 1.3
  mtext(xlab_lines, side = 1, line = label_line + 1.1 * (seq_along(xlab_lines) - 1) * par("cex.lab"),
        cex = par("cex.lab") * par("cex"))
  # The legend's top: below the axis label's last line.
  top_inches <- grconvertY(par("usr")[3], "user", "inches") -
    line * (label_line + 1.1 * length(xlab_lines) + 0.3)
  legend(x = 0.5, y = grconvertY(top_inches, "inches", "user"), xjust = 0.5, yjust = 1, legend = models,
         col = colours, pch = pch, lwd = lwd, bty = "n", cex = legend_cex, ncol = columns, xpd = NA,
         text.width = 1.25 * max(strwidth(models, "user", cex = legend_cex)))
}
