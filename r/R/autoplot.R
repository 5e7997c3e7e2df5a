# The factors' figure as a ggplot, for ggplot2's users: registered as ggplot2's autoplot()
# method when ggplot2 is loaded (NAMESPACE), drawn on the same log axis as plot(), with
# 0, Inf and factors beyond the axis at its edge, marked with their value.
autoplot.propbf <- function(object, factor = c("unconstrained", "complement"), decades = 8, labels = TRUE, ...) {
  if (!requireNamespace("ggplot2", quietly = TRUE)) {
    stop("autoplot() needs the ggplot2 package; plot() draws the same figure with base graphics", call. = FALSE)
  }
  factor <- match.arg(factor)
  .data <- ggplot2::.data
  layout <- factor_layout(as.data.frame(object), factor, decades)
  rows <- layout$rows
  rows$name <- factor(rows$name, levels = rev(rows$name))
  rows$where <- ifelse(rows$beyond == 0, "on the axis", "beyond the axis (at its edge)")
  rows$label <- format_figure(rows$value, 3)
  rows$hjust <- ifelse(rows$beyond < 0, 0, ifelse(rows$beyond > 0, 1, 0.5))
  shown <- rows[!is.na(rows$value), , drop = FALSE]
  plot <- ggplot2::ggplot(shown, ggplot2::aes(y = .data$name)) +
    ggplot2::geom_vline(xintercept = 0, linetype = 2, colour = "grey50") +
    ggplot2::geom_segment(ggplot2::aes(x = .data$x_lower, xend = .data$x_upper, yend = .data$name), linewidth = 0.8) +
    ggplot2::geom_point(ggplot2::aes(x = .data$x, shape = .data$where), size = 2.5) +
    ggplot2::scale_shape_manual(values = c("on the axis" = 19, "beyond the axis (at its edge)" = 1), name = NULL) +
    ggplot2::scale_x_continuous(limits = layout$limits, expand = c(0, 0),
                                labels = function(v) format(10^v, digits = 3)) +
    ggplot2::labs(x = "Bayes factor (log scale) and 95% interval", y = NULL,
                  title = paste("Bayes factors against the",
                                if (factor == "unconstrained") "unconstrained hypothesis" else "complement")) +
    ggplot2::theme_bw() +
    ggplot2::theme(legend.position = "bottom")
  if (isTRUE(labels)) {
    plot <- plot + ggplot2::geom_text(ggplot2::aes(x = .data$x, label = .data$label, hjust = .data$hjust),
                                      nudge_y = 0.25, size = 3.2)
  }
  plot
}
