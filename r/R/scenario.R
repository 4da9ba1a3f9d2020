# Scenarios run by ecodyn-ensemble, one member per model type, as long data frames.

# Returns every compartment at every print time of a scenario (see ?run_scenario).
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
  db <- file.path(tmp, "run.sqlite")
  args <- c(file, "-o", db, "--model", paste(model, collapse = ","),
            if (is.na(net$model)) c("--start", exact_text(start)),
            "--end", exact_text(end), "--print", exact_text(print),
            perturb_arguments(perturb), "--record", "all", "--jobs", length(model))
  r <- run_program("ecodyn-ensemble", args)
  if (nzchar(r$stderr)) base::message(sub("\n+$", "", r$stderr))
  con <- DBI::dbConnect(RSQLite::SQLite(), db, flags = RSQLite::SQLITE_RO, synchronous = NULL)
  on.exit(DBI::dbDisconnect(con), add = TRUE, after = FALSE)
  q <- function(sql) DBI::dbGetQuery(con, paste(
    sql, "JOIN member AS m USING (member) JOIN scenario AS s USING (scenario)",
    "ORDER BY m.member, 2, 3"))
  rows <- q(paste("SELECT s.model, t.time, t.compartment, CAST(t.biomass AS REAL) AS biomass",
                  "FROM trajectory AS t"))
  outcomes <- q(paste("SELECT s.model, o.end_time, o.ending, o.status, o.message",
                      "FROM outcome AS o"))
  ext <- q("SELECT s.model, e.time, e.compartment FROM extinction AS e")
  stopped <- outcomes[outcomes$ending != "end", , drop = FALSE]
  if (nrow(rows) == 0 && nrow(stopped) > 0)
    program_error("ecodyn", list(status = stopped$status[1], stderr = stopped$message[1]))
  names <- net$compartments$name
  out <- data.frame(model = rows$model, time = rows$time, compartment = rows$compartment,
                    name = names[rows$compartment], biomass = rows$biomass,
                    stringsAsFactors = FALSE)
  extinctions <- data.frame(model = ext$model, time = ext$time, compartment = ext$compartment,
                            name = names[ext$compartment], stringsAsFactors = FALSE)
  ending <- list(ending = "end", status = 0L, message = NA_character_)
  if (nrow(stopped)) {
    ending <- list(ending = stopped$ending[1], status = stopped$status[1],
                   message = stopped$message[1])
    warning(paste(sprintf("the run stopped at t = %s under model %d: %s",
                          format(stopped$end_time), stopped$model,
                          ifelse(is.na(stopped$message), stopped$ending, stopped$message)),
                  collapse = "; "), call. = FALSE)
  }
  structure(out, class = c("ecodyn_run", "data.frame"), extinctions = extinctions,
            ending = ending, title = net$title)
}

# Returns a run in the shape of deSolve::ode() output.
as_wide <- function(x, ...) UseMethod("as_wide")

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

# Draws one panel per compartment, one line per model type.
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
    if (is.numeric(w) || grepl("^ *[0-9]+ *$", w)) {
      w <- as.integer(w)
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

print.ecodyn_run <- function(x, ...) {
  e <- attr(x, "ending")
  # Rows taken out of a run keep its class but not its ending: a data frame.
  if (is.null(e)) return(print(as.data.frame(unclass(x)[names(x)], stringsAsFactors = FALSE), ...))
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
