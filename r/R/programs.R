# Finding and running the ecodyn programs.

# Returns the path of a program: option ecodyn.bin, else ECODYN_BIN, else PATH.
ecodyn_program <- function(name) {
  dir <- getOption("ecodyn.bin")
  where <- if (!is.null(dir)) sprintf("in %s (option ecodyn.bin)", dir) else {
    dir <- Sys.getenv("ECODYN_BIN")
    if (nzchar(dir)) sprintf("in %s (environment variable ECODYN_BIN)", dir) else NULL
  }
  path <- if (!is.null(where)) file.path(dir, name) else unname(Sys.which(name))
  if (!nzchar(path) || !file.exists(path) || dir.exists(path) || file.access(path, 1) != 0) {
    stop(sprintf(paste0("the program %s was not found %s: install the ecodyn programs ",
                        "and set options(ecodyn.bin = \"DIR\"), the environment variable ",
                        "ECODYN_BIN=DIR, or PATH to the directory that holds them"),
                 name, if (is.null(where)) "on PATH" else where),
         call. = FALSE)
  }
  normalizePath(path)
}

# Runs a program and returns its status, standard output and standard error;
# a status above `ok_status` is an R error carrying the program's message.
run_program <- function(name, args, ok_status = 0L, wd = NULL) {
  path <- ecodyn_program(name)
  r <- processx::run(path, args, error_on_status = FALSE, wd = wd, encoding = "")
  if (r$status > ok_status || r$status < 0) program_error(name, r)
  r
}

# Signals the error of a program with its standard error.
program_error <- function(name, r) {
  message <- sub("\n+$", "", r$stderr)
  if (!nzchar(message)) message <- sprintf("%s ended with status %d", name, r$status)
  cnd <- structure(class = c("ecodyn_error", "error", "condition"),
                   list(message = message, call = NULL, status = r$status, program = name))
  stop(cnd)
}

# Returns the network as a file: its own path when given one, otherwise a
# temporary file holding it.
network_file <- function(net, dir) {
  if (is.character(net) && length(net) == 1) {
    if (!file.exists(net)) stop(sprintf("%s: no such file", net), call. = FALSE)
    return(normalizePath(net))
  }
  if (!inherits(net, "ecodyn_network"))
    stop("net must be an ecodyn_network or the name of a network file", call. = FALSE)
  file <- file.path(dir, "network.net")
  write_network(net, file)
  file
}

# Returns the arguments of --perturb from a list or data frame of changes.
perturb_arguments <- function(perturb) {
  if (is.null(perturb)) return(character())
  if (is.character(perturb)) return(as.vector(rbind("--perturb", perturb)))
  if (is.data.frame(perturb)) {
    need <- c("kind", "compartment")
    if (!all(need %in% names(perturb)) || !any(c("value", "factor") %in% names(perturb)))
      stop("perturb as a data frame has columns kind, compartment and value or factor",
           call. = FALSE)
    changes <- lapply(seq_len(nrow(perturb)), function(k) as.list(perturb[k, , drop = FALSE]))
  } else if (is.list(perturb)) {
    changes <- if (!is.null(perturb$kind)) list(perturb) else perturb
  } else {
    stop("perturb is a list, a data frame or a character vector of changes", call. = FALSE)
  }
  texts <- vapply(changes, change_text, "")
  as.vector(rbind("--perturb", texts))
}

# Returns one change as ecodyn-run takes it: KIND:COMPARTMENT=VALUE or
# KIND:COMPARTMENT=xFACTOR; an exchange has two compartments.
change_text <- function(change) {
  kind <- change$kind
  kinds <- c("biomass", "input", "export", "respiration", "exchange")
  if (is.null(kind) || !(kind %in% kinds))
    stop(sprintf("the kind of a change is one of %s", paste(kinds, collapse = ", ")), call. = FALSE)
  where <- change$compartment
  if (kind == "exchange") {
    where <- c(where, change$destination)
    if (length(where) != 2 || anyNA(where))
      stop("an exchange change names two compartments (compartment and destination)",
           call. = FALSE)
  } else if (length(where) != 1 || is.na(where)) {
    stop(sprintf("a %s change names one compartment", kind), call. = FALSE)
  }
  value <- change$value
  factor <- change$factor
  has_value <- !is.null(value) && !is.na(value)
  has_factor <- !is.null(factor) && !is.na(factor)
  if (has_value == has_factor)
    stop(sprintf("a %s change gives either a value or a factor", kind), call. = FALSE)
  number <- if (has_value) exact_text(value) else paste0("x", exact_text(factor))
  sprintf("%s:%s=%s", kind, paste(where, collapse = ","), number)
}

# Returns a number as the shortest decimal that reads back as it.
exact_text <- function(x) {
  if (!is.numeric(x) || length(x) != 1 || !is.finite(x))
    stop(sprintf("'%s' is not a finite number", format(x)), call. = FALSE)
  for (d in 1:17) {
    s <- sprintf("%.*g", d, x)
    if (as.numeric(s) == x) return(s)
  }
  sprintf("%.17g", x)
}
