# Ensembles: ecodyn-ensemble and the SQLite database it writes.

# Returns the ensemble ecodyn-ensemble writes into the database `db` (see ?ensemble).
ensemble <- function(net, model = 2, end, print = NULL, start = NULL, perturb = NULL,
                     sweep = NULL, draws = NULL, vary = NULL, seed = NULL, jobs = NULL,
                     record = NULL, follow = NULL, reject_extinction = FALSE, limits = NULL,
                     within = NULL, db = tempfile("ensemble", fileext = ".sqlite"),
                     trajectories = FALSE) {
  if (missing(end)) stop("end: the end time is required", call. = FALSE)
  tmp <- tempfile("ecodyn")
  dir.create(tmp)
  on.exit(unlink(tmp, recursive = TRUE))
  option <- function(name, value, text = as.character) {
    if (is.null(value)) character() else c(name, text(value))
  }
  repeated <- function(name, values) as.vector(rbind(rep(name, length(values)), values))
  args <- c(network_file(net, tmp), "-o", db,
            "--model", paste(model, collapse = ","),
            option("--start", start, exact_text), "--end", exact_text(end),
            option("--print", print, exact_text), perturb_arguments(perturb),
            repeated("--sweep", sweep), option("--draws", draws),
            repeated("--vary", vary), option("--seed", seed),
            option("--record", record), option("--follow", follow,
                                                 function(f) paste(f, collapse = ",")),
            if (isTRUE(reject_extinction)) "--reject-extinction",
            option("--limits", limits, function(l) paste(vapply(l, exact_text, ""),
                                                         collapse = ",")),
            option("--within", within, exact_text), option("--jobs", jobs), "--force")
  run_program("ecodyn-ensemble", args)
  read_ensemble(db, trajectories = trajectories)
}

# Returns the tables of an ensemble database of format 1 (see ?read_ensemble).
read_ensemble <- function(file, trajectories = FALSE) {
  if (!file.exists(file)) stop(sprintf("%s: no such file", file), call. = FALSE)
  con <- DBI::dbConnect(RSQLite::SQLite(), file, flags = RSQLite::SQLITE_RO, synchronous = NULL)
  on.exit(DBI::dbDisconnect(con))
  q <- function(sql) DBI::dbGetQuery(con, sql)
  id <- tryCatch(q("PRAGMA application_id")[[1]], error = function(e) NA)
  if (!identical(as.numeric(id), as.numeric(0x45434459)))
    stop(sprintf("%s is not an ensemble database of ecodyn-ensemble", file), call. = FALSE)
  version <- q("PRAGMA user_version")[[1]]
  if (version != 1)
    stop(sprintf("%s is an ensemble database of format %d; this package reads format 1", file,
                 version), call. = FALSE)
  s <- q("SELECT key, value FROM settings ORDER BY key")
  settings <- stats::setNames(as.list(s$value), s$key)
  scenarios <- q("SELECT scenario, model, label FROM scenario ORDER BY scenario")
  sweeps <- q("SELECT * FROM sweep ORDER BY scenario, sweep")
  for (k in sort(unique(sweeps$sweep))) {
    w <- sweeps[sweeps$sweep == k, ]
    scenarios[[paste0("sweep", k)]] <- w$value[match(scenarios$scenario, w$scenario)]
  }
  outcomes <- q(paste("SELECT m.member, m.scenario, s.model, s.label, m.draw, o.ending,",
                      "o.status, o.message, o.end_time, o.accepted, o.rejection, o.resilience,",
                      "o.extinctions FROM outcome AS o JOIN member AS m USING (member)",
                      "JOIN scenario AS s USING (scenario) ORDER BY m.member"))
  outcomes$accepted <- outcomes$accepted == 1
  out <- list(file = normalizePath(file), settings = settings,
              compartments = q("SELECT * FROM compartment ORDER BY compartment"),
              scenarios = scenarios, sweeps = sweeps, outcomes = outcomes,
              factors = q("SELECT * FROM factor ORDER BY member, position"),
              extinctions = q("SELECT * FROM extinction ORDER BY member, compartment"),
              summary = q(paste("SELECT scenario, step, time, compartment, members, mean,",
                                "q05, q25, q50, q75, q95 FROM summary",
                                "ORDER BY scenario, step, compartment")))
  out$compartments$living <- out$compartments$living == 1
  if (trajectories) {
    out$trajectories <- q(paste("SELECT member, step, time, compartment,",
                                "CAST(biomass AS REAL) AS biomass FROM",
                                "trajectory ORDER BY member, step, compartment"))
  }
  structure(out, class = "ecodyn_ensemble")
}

print.ecodyn_ensemble <- function(x, ...) {
  s <- x$settings
  cat(sprintf("%s\nensemble of %s scenarios, %s members (%d completed, %d accepted); models %s\n",
              s$title, s$scenarios, s$members, nrow(x$outcomes), sum(x$outcomes$accepted),
              s$models))
  print(x$scenarios, row.names = FALSE)
  invisible(x)
}
