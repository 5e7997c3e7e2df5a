# The methods of a plan (bf_plan()): its table as `propbf plan` writes it (format,
# print), one row per size, hypothesis and threshold (as.data.frame), a summary of the
# probabilities and the target, and the figure of P(BF > k) against size (plot, and
# autoplot where ggplot2 is installed).

format.propbf_plan <- function(x, ...) {
  strsplit(sub("\n$", "", x$text), "\n", fixed = TRUE)[[1]]
}

print.propbf_plan <- function(x, ...) {
  cat(format(x), sep = "\n")
  invisible(x)
}

as.data.frame.propbf_plan <- function(x, row.names = NULL, optional = FALSE, ...) {
  data <- x$table
  if (!is.null(row.names)) rownames(data) <- row.names
  data
}

summary.propbf_plan <- function(object, ...) {
  structure(list(table = object$table, reach = object$reach, datasets = object$datasets, seed = object$seed,
                 against = object$against, target = object$target, target_threshold = object$target_threshold,
                 complexities = object$complexities, items = object$items),
            class = "summary.propbf_plan")
}

# The phrase of the factor a plan counts.
against_words <- function(against) {
  switch(against, unconstrained = "the unconstrained hypothesis", complement = "each hypothesis's complement",
         paste("hypothesis", against))
}

# Within 80 columns: the plan, then per hypothesis one line per size with P(BF > k) and
# P(BF < 1/k) for each threshold (the Monte Carlo interval of the target's threshold
# beside it), the median factor, and the smallest size that reaches the target.
print.summary.propbf_plan <- function(x, digits = 3, ...) {
  width <- min(80L, getOption("width", 80L))
  table <- x$table
  cat(strwrap(paste0("Plan: ", x$datasets, " data sets per size, ", length(x$items), " item",
                     if (length(x$items) == 1L) "" else "s", ", factors against ", against_words(x$against),
                     " (seed ", x$seed, ")"), width = width), sep = "\n")
  for (h in unique(table$hypothesis)) {
    rows <- table[table$hypothesis == h, , drop = FALSE]
    complexity <- x$complexities[x$complexities$hypothesis == h, , drop = FALSE]
    cat("\n", h, " (complexity ", format_figure(complexity$complexity, 4),
        if (isTRUE(complexity$exact)) ", exact" else "", ")\n", sep = "")
    sizes <- unique(rows$size)
    first <- rows[rows$size %in% sizes & !duplicated(rows$size), , drop = FALSE]
    shown <- data.frame(n = ifelse(is.na(first$n), format(first$total), format(first$n)),
                        check.names = FALSE, stringsAsFactors = FALSE)
    if (anyNA(first$n)) names(shown) <- "total"
    for (k in unique(rows$threshold_name)) {
      at <- rows[rows$threshold_name == k, , drop = FALSE]
      shown[[paste0("P(BF>", k, ")")]] <- format_figure(at$p_above, digits)
      if (!is.na(x$target) && at$threshold[1] == x$target_threshold) {
        shown[["95% interval"]] <- format_interval(at$p_above_lower, at$p_above_upper, digits)
      }
    }
    for (k in unique(rows$threshold_name)) {
      at <- rows[rows$threshold_name == k, , drop = FALSE]
      shown[[paste0("P(BF<1/", k, ")")]] <- format_figure(at$p_below, digits)
    }
    shown[["median BF"]] <- format_figure(first$median_bf, digits)
    lines <- utils::capture.output(print(shown, right = TRUE, row.names = FALSE))
    if (max(nchar(lines)) > width) {
      shown[["95% interval"]] <- NULL
      lines <- utils::capture.output(print(shown, right = TRUE, row.names = FALSE))
    }
    cat(lines, sep = "\n")
  }
  if (!is.null(x$reach)) {
    cat("\n", "Smallest size with P(BF > ", format_figure(x$target_threshold, 6), ") >= ",
        format_figure(x$target, 6), ":\n", sep = "")
    for (r in seq_len(nrow(x$reach))) {
      reach <- x$reach[r, ]
      where <- if (!reach$reached) "not reached at the sizes of the plan" else
        paste0(format_figure(reach$total, 4), " trials in all",
               if (!is.na(reach$n)) paste0(" (", format_figure(reach$n, 4), " per item)") else "",
               if (reach$interpolated) ", interpolated" else "")
      cat("  ", reach$hypothesis, ": ", where, "\n", sep = "")
    }
  }
  invisible(x)
}

# The figure's data: one line per hypothesis and threshold, the size on the x axis
# (trials per item when every size gives every item as many, else trials in all), the
# probability (of BF > k, or of BF < 1/k) with its Monte Carlo interval.
plan_lines <- function(x, which = "above") {
  table <- x$table
  per_item <- !anyNA(table$n)
  lines <- data.frame(hypothesis = table$hypothesis, threshold = table$threshold_name,
                      size = if (per_item) table$n else table$total,
                      p = table[[paste0("p_", which)]], lower = table[[paste0("p_", which, "_lower")]],
                      upper = table[[paste0("p_", which, "_upper")]], stringsAsFactors = FALSE)
  lines$line <- paste0(lines$hypothesis, ": P(BF ", if (which == "above") "> " else "< 1/", lines$threshold, ")")
  reach <- x$reach
  if (!is.null(reach)) reach$size <- if (per_item) reach$n else reach$total
  list(lines = lines, per_item = per_item, reach = if (which == "above") reach else NULL,
       xlab = if (per_item) "trials per item" else "trials over all items")
}

plot.propbf_plan <- function(x, which = c("above", "below"), target = TRUE, ...) {
  which <- match.arg(which)
  arguments <- plot_arguments(...)
  old <- par(no.readonly = TRUE)
  on.exit(par(old))
  if (length(arguments$par) > 0L) do.call(par, arguments$par)
  own <- arguments$own
  data <- plan_lines(x, which)
  lines <- data$lines
  keys <- unique(lines$line)
  hypotheses <- unique(lines$hypothesis)
  thresholds <- unique(lines$threshold)
  colours <- if (is.null(own$col)) grDevices::hcl.colors(max(length(hypotheses), 2L), "Dark 3")[seq_along(hypotheses)] else
    rep_len(own$col, length(hypotheses))
  types <- rep_len(1:6, length(thresholds))
  pch <- if (is.null(own$pch)) 19 else own$pch
  lwd <- if (is.null(own$lwd)) 2 else own$lwd
  main <- if (is.null(own$main)) {
    paste0("P(BF ", if (which == "above") "> k" else "< 1/k", ") against ", against_words(x$against), ", by size")
  } else own$main
  xlab <- if (is.null(own$xlab)) data$xlab else own$xlab
  show_target <- isTRUE(target) && which == "above" && !is.na(x$target)
  legend_text <- c(keys, if (show_target) "target; circle where reached (open: interpolated)")
  legend_cex <- 0.85
  par(mai = c(0, 0, 0, 0))
  plot.new()
  guess <- par("fin")[1] - 1
  main_lines <- wrap_to(main, guess, cex = par("cex.main"), font = par("font.main"))
  xlab_lines <- wrap_to(xlab, guess, cex = par("cex.lab"))
  line <- par("csi") * par("cex")
  entry <- 1.1 * max(strwidth(legend_text, "inches", cex = legend_cex)) + 3.5 * line * legend_cex
  columns <- max(1L, min(length(legend_text), floor(max(guess, entry) / entry)))
  legend_height <- ceiling(length(legend_text) / columns) * line * legend_cex * 1.25 + 0.15
  set_margins(panel_margins("0.75", xlab_lines, main_lines, below = legend_height))
  xlim <- if (is.null(own$xlim)) range(lines$size, data$reach$size, na.rm = TRUE) else own$xlim
  if (diff(xlim) == 0) xlim <- xlim + c(-1, 1)
  plot.window(xlim = xlim, ylim = c(0, 1))
  abline(h = c(0, 1), col = "grey85")
  if (show_target) abline(h = x$target, lty = 2, col = "grey40")
  offset <- 0.004 * diff(xlim) * (seq_along(keys) - (length(keys) + 1) / 2)
  for (i in seq_along(keys)) {
    rows <- lines[lines$line == keys[i], , drop = FALSE]
    rows <- rows[order(rows$size), , drop = FALSE]
    colour <- colours[match(rows$hypothesis[1], hypotheses)]
    type <- types[match(rows$threshold[1], thresholds)]
    at <- rows$size + offset[i]
    segments(at, rows$lower, at, rows$upper, col = colour, lwd = 1)
    graphics::lines(at, rows$p, col = colour, lty = type, lwd = lwd)
    points(at, rows$p, col = colour, pch = pch)
  }
  if (show_target && !is.null(data$reach)) {
    for (r in seq_len(nrow(data$reach))) {
      reach <- data$reach[r, ]
      if (!reach$reached) next
      colour <- colours[match(reach$hypothesis, hypotheses)]
      segments(reach$size, 0, reach$size, x$target, col = colour, lty = 3)
      points(reach$size, x$target, pch = if (reach$interpolated) 1 else 19, col = colour, cex = 1.6, lwd = 1.5)
    }
  }
  axis(1)
  axis(2, las = 1)
  box()
  title(main = paste(main_lines, collapse = "\n"), sub = own$sub)
  label_line <- par("mgp")[2] + 1.3
  mtext(xlab_lines, side = 1, line = label_line + 1.1 * (seq_along(xlab_lines) - 1) * par("cex.lab"),
        cex = par("cex.lab") * par("cex"))
  top_inches <- grconvertY(par("usr")[3], "user", "inches") - line * (label_line + 1.1 * length(xlab_lines) + 0.3)
  key_colours <- colours[match(lines$hypothesis[match(keys, lines$line)], hypotheses)]
  key_types <- types[match(lines$threshold[match(keys, lines$line)], thresholds)]
  legend(x = mean(par("usr")[1:2]), y = grconvertY(top_inches, "inches", "user"), xjust = 0.5, yjust = 1,
         legend = legend_text, col = c(key_colours, if (show_target) "grey40"),
         lty = c(key_types, if (show_target) 2), lwd = c(rep(lwd, length(keys)), if (show_target) 1),
         pch = c(rep(pch, length(keys)), if (show_target) 1), bty = "n", cex = legend_cex, ncol = columns, xpd = NA)
  invisible(x)
}

# The same figure as a ggplot (registered as ggplot2's autoplot() method when ggplot2 is
# loaded): intervals as bars, the target as a dashed line, where it is reached marked.
autoplot.propbf_plan <- function(object, which = c("above", "below"), target = TRUE, ...) {
  if (!requireNamespace("ggplot2", quietly = TRUE)) {
    stop("autoplot() needs the ggplot2 package; plot() draws the same figure with base graphics", call. = FALSE)
  }
  which <- match.arg(which)
  .data <- ggplot2::.data
  data <- plan_lines(object, which)
  lines <- data$lines
  lines$threshold <- factor(lines$threshold, levels = unique(lines$threshold))
  lines$hypothesis <- factor(lines$hypothesis, levels = unique(lines$hypothesis))
  plot <- ggplot2::ggplot(lines, ggplot2::aes(x = .data$size, y = .data$p, colour = .data$hypothesis,
                                              linetype = .data$threshold,
                                              group = interaction(.data$hypothesis, .data$threshold))) +
    ggplot2::geom_errorbar(ggplot2::aes(ymin = .data$lower, ymax = .data$upper), width = 0, linetype = 1) +
    ggplot2::geom_line(linewidth = 0.8) +
    ggplot2::geom_point(size = 2) +
    ggplot2::scale_y_continuous(limits = c(0, 1)) +
    ggplot2::labs(x = data$xlab, y = if (which == "above") "P(BF > k)" else "P(BF < 1/k)",
                  colour = "hypothesis", linetype = "k",
                  title = paste0("P(BF ", if (which == "above") "> k" else "< 1/k", ") against ",
                                 against_words(object$against), ", by size")) +
    ggplot2::theme_bw() +
    ggplot2::theme(legend.position = "bottom")
  if (isTRUE(target) && which == "above" && !is.na(object$target)) {
    plot <- plot + ggplot2::geom_hline(yintercept = object$target, linetype = 2, colour = "grey40")
    reach <- data$reach
    reach <- reach[reach$reached, , drop = FALSE]
    if (nrow(reach) > 0L) {
      reach$hypothesis <- factor(reach$hypothesis, levels = levels(lines$hypothesis))
      reach$p <- object$target
      reach$mark <- ifelse(reach$interpolated, "reached (interpolated)", "reached")
      plot <- plot +
        ggplot2::geom_point(data = reach, ggplot2::aes(x = .data$size, y = .data$p, colour = .data$hypothesis,
                                                       shape = .data$mark),
                            inherit.aes = FALSE, size = 3.5, stroke = 1.2) +
        ggplot2::scale_shape_manual(values = c("reached" = 19, "reached (interpolated)" = 1), name = "target")
    }
  }
  plot
}
