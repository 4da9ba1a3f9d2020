# Scenarios run by ecodyn-run, as long data frames.

#' Run a scenario
#'
#' Runs `ecodyn-run` on the network with a snapshot at every print interval
#' and returns every compartment at every print time, at the seven digits of
#' the snapshots. Several model types run one after another on the same
#' scenario, one cycle each.
#'
#' @param net an `ecodyn_network` or the name of a network file (the last
#'   description of a file is run; a snapshot runs from its own time).
#' @param model model types, from 1 (generic predator control), 2 (linear
#'   donor control) and 3 (damped Lotka-Volterra); each at most once.
#' @param end the end time.
#' @param print the print interval; default the span divided by 100.
#' @param start the start time (not for a snapshot, which starts at its own).
#' @param perturb changes applied before the run: a list with elements
#'   `kind` (biomass, input, export, respiration or exchange), `compartment`
#'   (number or name; for an exchange also `destination`) and `value` (the
#'   new value) or `factor` (multiplying the value ecodyn shows as old), or a
#'   list of such lists, or a data frame with those columns (NA where not
#'   used), or character strings as ecodyn-run takes them
#'   (`"biomass:GRASS=x0.5"`).
#' @return a data frame of class `ecodyn_run` with columns `model`, `time`,
#'   `compartment`, `name` and `biomass`, and attributes `extinctions` (a data
#'   frame of model, time, compartment and name), `ending` (a list: `ending`
#'   "end" or "error stop", `status`, ecodyn's `message`) and `title`. An
#'   error stop of the model returns what was computed with a warning; an
#'   option the program refuses (such as an unknown compartment) is an error
#'   carrying its message.
#' @examples
#' if (!inherits(try(ecodyn_program("ecodyn-run"), silent = TRUE), "try-error")) {
#'   net <- read_network(system.file("extdata", "grazing_chain.net", package = "ecodyn"))
#'   run <- run_scenario(net, model = 1:3, end = 50, print = 1,
#'                       perturb = list(kind = "biomass", compartment = "PREDATORS", factor = 0.25))
#'   head(run)
#'   plot(run)
#' }
#' @export
run_scenario <- function(net, model = 2, end, print, start = 0, perturb = NULL) {
  model <- as.integer(model)
  if (length(model) == 0 || anyNA(model) || any(!model %in% 1:3) || anyDuplicated(model))
    stop("model: the model types 1, 2 and 3, each at most once", call. = FALSE)
  if (missing(end)) stop("end: the end time is required", call. = FALSE)
  tmp <- tempfile("ecodyn")
  dir.create(tmp)
  on.exit(unlink(tmp, recursive = TRUE))
  if (is.character(net) && length(net) == 1) net <- read_network(net)
  file <- network_file(net, tmp)
  from <- if (is.na(net$model)) start else net$time
  if (missing(print)) print <- (end - from) / 100
  dir <- file.path(tmp, "run")
  args <- c(file, "--model", paste(model, collapse = ","),
            if (is.na(net$model)) c("--start", exact_text(start)),
            "--end", exact_text(end), "--print", exact_text(print),
            "--snapshot", exact_text(print), perturb_arguments(perturb), "--dir", dir)
  r <- run_program("ecodyn-run", args, ok_status = 1L)
  snapshots <- file.path(dir, "fort.18")
  descriptions <- if (file.exists(snapshots) && file.info(snapshots)$size > 0)
    read_network(snapshots, "all") else list()
  terminal <- readLines(file.path(dir, "terminal.txt"), warn = FALSE)
  message <- trimws(utils::tail(terminal[nzchar(trimws(terminal))], 1))
  if (r$status != 0 && length(descriptions) == 0) {
    program_error("ecodyn-run", list(status = r$status,
                                     stderr = paste(c(message, r$stderr), collapse = "\n")))
  }
  if (r$status == 0 && nzchar(r$stderr)) base::message(sub("\n+$", "", r$stderr))
  out <- snapshot_frame(descriptions)
  report <- file.path(dir, "fort.8")
  extinctions <- read_extinctions(if (file.exists(report)) readLines(report, warn = FALSE)
                                  else character(), model, net$compartments$name)
  ending <- list(ending = if (r$status == 0) "end" else "error stop", status = r$status,
                 message = if (r$status == 0) NA_character_ else message)
  if (r$status != 0) {
    warning(sprintf("the run stopped at t = %s under model %d: %s", format(max(out$time[
      out$model == out$model[nrow(out)]])), out$model[nrow(out)], message), call. = FALSE)
  }
  structure(out, class = c("ecodyn_run", "data.frame"), extinctions = extinctions,
            ending = ending, title = net$title)
}

# Returns the long data frame of the snapshots of a run.
snapshot_frame <- function(descriptions) {
  parts <- lapply(descriptions, function(d) {
    cm <- d$compartments
    data.frame(model = rep(d$model, nrow(cm)), time = rep(d$time, nrow(cm)),
               compartment = cm$number, name = cm$name, biomass = cm$biomass,
               stringsAsFactors = FALSE)
  })
  out <- if (length(parts)) do.call(rbind, parts) else
    data.frame(model = integer(), time = numeric(), compartment = integer(), name = character(),
               biomass = numeric())
  rownames(out) <- NULL
  out
}

# Returns the extinction notices of a report: a cycle begins at each title
# line ("1" in column 1), and cycle k ran model type models[k].
read_extinctions <- function(report, models, names) {
  cycle <- cumsum(startsWith(report, "1"))
  pattern <- "^ SPECIES +([0-9]+) WENT EXTINCT AT T = +([-+.0-9E]+) *$"
  hit <- grepl(pattern, report)
  m <- regmatches(report[hit], regexec(pattern, report[hit]))
  compartment <- as.integer(vapply(m, `[`, "", 2))
  data.frame(model = models[cycle[hit]], time = as.numeric(vapply(m, `[`, "", 3)),
             compartment = compartment, name = names[compartment], stringsAsFactors = FALSE)
}

#' The trajectories in the shape of deSolve's output
#'
#' @param x the result of [run_scenario()].
#' @param ... not used.
#' @return for a run of one model type, a numeric matrix with a column
#'   `time` and one column per compartment, named by its name, as
#'   `deSolve::ode()` returns; for several model types, a list of such
#'   matrices named `"model 1"`, `"model 2"`, ... in the order they ran.
#' @examples
#' if (!inherits(try(ecodyn_program("ecodyn-run"), silent = TRUE), "try-error")) {
#'   net <- read_network(system.file("extdata", "two_compartments.net", package = "ecodyn"))
#'   as_wide(run_scenario(net, end = 10, print = 1,
#'                        perturb = list(kind = "biomass", compartment = 1, value = 5)))
#' }
#' @export
as_wide <- function(x, ...) UseMethod("as_wide")

#' @rdname as_wide
#' @export
as_wide.ecodyn_run <- function(x, ...) {
  models <- unique(x$model)
  wide <- lapply(models, function(m) {
    d <- x[x$model == m, , drop = FALSE]
    times <- unique(d$time)
    numbers <- sort(unique(d$compartment))
    out <- matrix(NA_real_, length(times), length(numbers))
    out[cbind(match(d$time, times), match(d$compartment, numbers))] <- d$biomass
    names <- d$name[match(numbers, d$compartment)]
    out <- cbind(times, out)
    colnames(out) <- c("time", make.unique(names))
    out
  })
  if (length(models) == 1) return(wide[[1]])
  names(wide) <- paste("model", models)
  wide
}

model_names <- c("generic predator control", "linear donor control", "damped Lotka-Volterra")

#' Plot a run
#'
#' One panel per compartment, one line per model type; a compartment that
#' went extinct has its line marked at the time of the notice.
#'
#' @param x the result of [run_scenario()].
#' @param compartments the compartments to draw, by number or name; default
#'   all.
#' @param log `"y"` for a logarithmic biomass axis.
#' @param ... passed to [graphics::plot()] for each panel.
#' @return `x`, invisibly.
#' @export
plot.ecodyn_run <- function(x, compartments = NULL, log = "", ...) {
  numbers <- sort(unique(x$compartment))
  if (!is.null(compartments)) numbers <- pick_compartments(compartments, x)
  models <- unique(x$model)
  colours <- c("#1b6ca8", "#c0392b", "#2e8b57")
  ext <- attr(x, "extinctions")
  panels <- length(numbers)
  columns <- ceiling(sqrt(panels))
  old <- graphics::par(mfrow = c(ceiling(panels / columns), columns),
                       mar = c(4, 4, 2.5, 1), oma = c(2.5, 0, 2, 0))
  on.exit(graphics::par(old))
  for (k in numbers) {
    d <- x[x$compartment == k, , drop = FALSE]
    graphics::plot(range(d$time), range(d$biomass), type = "n", xlab = "time",
                   ylab = "biomass", main = sprintf("%d %s", k, d$name[1]), log = log, ...)
    for (m in models) {
      s <- d[d$model == m, , drop = FALSE]
      graphics::lines(s$time, s$biomass, col = colours[m], lwd = 1.5)
      e <- ext[ext$model == m & ext$compartment == k, , drop = FALSE]
      if (nrow(e)) graphics::points(e$time, stats::approx(s$time, s$biomass, e$time,
                                                          rule = 2)$y, pch = 4, col = colours[m])
    }
  }
  graphics::mtext(attr(x, "title"), outer = TRUE, cex = 0.9)
  graphics::par(fig = c(0, 1, 0, 1), oma = c(0, 0, 0, 0), mar = c(0, 0, 0, 0), new = TRUE)
  graphics::plot.new()
  graphics::legend("bottom", legend = sprintf("model %d (%s)", models, model_names[models]),
                   col = colours[models], lwd = 1.5, horiz = TRUE, bty = "n", cex = 0.8,
                   xpd = TRUE)
  invisible(x)
}

# Returns the numbers of compartments given by number or by name (case
# ignored: the name equal to it, otherwise the one that contains it).
pick_compartments <- function(which, x) {
  numbers <- sort(unique(x$compartment))
  names <- x$name[match(numbers, x$compartment)]
  vapply(which, function(w) {
    if (is.numeric(w)) {
      if (!w %in% numbers) stop(sprintf("no compartment %s", format(w)), call. = FALSE)
      return(as.integer(w))
    }
    key <- tolower(trimws(w))
    hit <- which(tolower(trimws(names)) == key)
    if (length(hit) == 0) hit <- which(grepl(key, tolower(names), fixed = TRUE))
    if (length(hit) != 1)
      stop(sprintf("'%s' names %s compartment", w, if (length(hit)) "more than one" else "no"),
           call. = FALSE)
    numbers[hit]
  }, 1L, USE.NAMES = FALSE)
}

#' @export
print.ecodyn_run <- function(x, ...) {
  e <- attr(x, "ending")
  cat(sprintf("%s\n%d rows: model %s, t = %s to %s; %s%s\n", attr(x, "title"), nrow(x),
              paste(unique(x$model), collapse = ", "), format(min(x$time)), format(max(x$time)),
              e$ending, if (is.na(e$message)) "" else paste0(" (", e$message, ")")))
  ext <- attr(x, "extinctions")
  if (nrow(ext)) {
    cat("extinctions:\n")
    print(ext, row.names = FALSE)
  }
  print(utils::head(as.data.frame(unclass(x)[names(x)], stringsAsFactors = FALSE), 10),
        row.names = FALSE)
  if (nrow(x) > 10) cat(sprintf("... %d more rows\n", nrow(x) - 10))
  invisible(x)
}
