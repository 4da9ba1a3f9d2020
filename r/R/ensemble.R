# Ensembles: ecodyn-ensemble and the SQLite database it writes.

#' Run an ensemble
#'
#' Runs `ecodyn-ensemble` on the network into an SQLite database and reads
#' it back with [read_ensemble()].
#'
#' @param net an `ecodyn_network` or the name of a network file.
#' @param model model types (a vector, or a string such as `"1,2,3"`).
#' @param end,print,start the times (`start` and `print` optional).
#' @param perturb changes applied to every member, as [run_scenario()] takes
#'   them.
#' @param sweep sweeps, as the tool takes them: `"KIND:COMPARTMENT=V1,V2"`.
#' @param draws members per scenario.
#' @param vary what is drawn: `"KIND:WHICH=uniform:20%"` or
#'   `"KIND:WHICH=lognormal:0.2"`.
#' @param seed the seed.
#' @param jobs runs at once.
#' @param record `"all"`, `"followed"` or `"none"`: which trajectories are
#'   kept.
#' @param follow the followed compartments (numbers or names).
#' @param reject_extinction `TRUE` to reject members with an extinction.
#' @param limits `c(LOW, HIGH)`: members leaving these biomass bounds are
#'   rejected.
#' @param within the band of the resilience time (0.1: 10%).
#' @param db the database to write; default a temporary file.
#' @param trajectories `TRUE` to read the trajectories as well.
#' @return as [read_ensemble()], with `file` the database.
#' @examples
#' if (!inherits(try(ecodyn_program("ecodyn-ensemble"), silent = TRUE), "try-error")) {
#'   net <- system.file("extdata", "grazing_chain.net", package = "ecodyn")
#'   e <- ensemble(net, model = 2, end = 20, print = 1, draws = 5, seed = 1,
#'                 vary = "biomass:PREDATORS=uniform:20%")
#'   head(e$summary)
#' }
#' @export
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

#' Read an ensemble database
#'
#' Reads the SQLite database of `ecodyn-ensemble` (format 1), made here, on
#' the command line or on a cluster.
#'
#' @param file the database.
#' @param trajectories `TRUE` to read every member's trajectory as well (the
#'   long shape of the database's `trajectory` view).
#' @return an object of class `ecodyn_ensemble`, a list of: `settings` (a
#'   named list of the settings, as text), `compartments`, `scenarios` (with
#'   the sweep values of each, one column per sweep), `outcomes` (one row per
#'   member that has completed: member, scenario, model, label, draw, ending,
#'   status, message, end_time, accepted, rejection, resilience,
#'   extinctions), `factors` and `extinctions` of the members, `summary` (per
#'   scenario, print time and compartment: members, mean and quantiles), and
#'   with `trajectories = TRUE`, `trajectories` (member, step, time,
#'   compartment, biomass); `file`.
#' @export
read_ensemble <- function(file, trajectories = FALSE) {
  if (!file.exists(file)) stop(sprintf("%s: no such file", file), call. = FALSE)
  con <- DBI::dbConnect(RSQLite::SQLite(), file, flags = RSQLite::SQLITE_RO)
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
    out$trajectories <- q(paste("SELECT member, step, time, compartment, biomass FROM",
                                "trajectory ORDER BY member, step, compartment"))
  }
  structure(out, class = "ecodyn_ensemble")
}

#' @export
print.ecodyn_ensemble <- function(x, ...) {
  s <- x$settings
  cat(sprintf("%s\nensemble of %s scenarios, %s members (%d completed, %d accepted); models %s\n",
              s$title, s$scenarios, s$members, nrow(x$outcomes), sum(x$outcomes$accepted),
              s$models))
  print(x$scenarios, row.names = FALSE)
  invisible(x)
}
