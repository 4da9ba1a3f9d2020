# The linear stability analysis of ecodyn-stability.

# Returns the analysis of ecodyn-stability for each model type (see ?stability).
stability <- function(net, model = 1:3, perturb = NULL) {
  model <- as.integer(model)
  if (length(model) == 0 || anyNA(model) || any(!model %in% 1:3) || anyDuplicated(model))
    stop("model: the model types 1, 2 and 3, each at most once", call. = FALSE)
  tmp <- tempfile("ecodyn")
  dir.create(tmp)
  on.exit(unlink(tmp, recursive = TRUE))
  file <- network_file(net, tmp)
  jacobian_file <- file.path(tmp, "jacobian.csv")
  r <- run_program("ecodyn-stability", c(file, "--model", paste(model, collapse = ","),
                                         perturb_arguments(perturb), "--json",
                                         "--jacobian", jacobian_file), ok_status = 1L)
  if (r$status == 1) warning(sub("\n+$", "", r$stderr), call. = FALSE)
  report <- jsonlite::fromJSON(r$stdout, simplifyVector = FALSE)
  names <- unlist(report$names)
  number_or_na <- function(x) if (is.null(x)) NA_real_ else as.numeric(x)
  rows <- lapply(report$models, function(m) {
    data.frame(model = as.integer(m$model), name = m$name,
               verdict = if (is.null(m$verdict)) NA_character_ else m$verdict,
               equilibrium = if (is.null(m$equilibrium)) NA else m$equilibrium,
               dominant_real = number_or_na(m$dominant$real),
               dominant_imaginary = number_or_na(m$dominant$imaginary),
               return_time = number_or_na(m$return_time), period = number_or_na(m$period),
               s_min = number_or_na(m$s_min), neutral_within = number_or_na(m$neutral_within),
               error = if (is.null(m$error)) NA_character_ else m$error,
               stringsAsFactors = FALSE)
  })
  models <- do.call(rbind, rows)
  eigen <- do.call(rbind, lapply(report$models, function(m) {
    values <- m$eigenvalues
    if (length(values) == 0) return(NULL)
    data.frame(model = as.integer(m$model), rank = seq_along(values),
               real = vapply(values, function(v) as.numeric(v[[1]]), 1),
               imaginary = vapply(values, function(v) as.numeric(v[[2]]), 1))
  }))
  if (is.null(eigen)) eigen <- data.frame(model = integer(), rank = integer(), real = numeric(),
                                          imaginary = numeric())
  jacobian <- read_jacobians(jacobian_file, names)
  by_model <- function(x) stats::setNames(x, paste("model", models$model))
  structure(list(title = report$title, models = models, eigenvalues = eigen,
                 jacobian = if (length(jacobian) == 1) jacobian[[1]] else jacobian,
                 dominant = by_model(complex(real = models$dominant_real,
                                             imaginary = models$dominant_imaginary)),
                 return_time = by_model(models$return_time), period = by_model(models$period),
                 s_min = by_model(models$s_min)),
            class = "ecodyn_stability")
}

# Returns the Jacobians of the file ecodyn-stability writes, one matrix per
# model type, named "model M".
read_jacobians <- function(file, names) {
  if (!file.exists(file)) return(list())
  d <- utils::read.csv(file, check.names = FALSE, stringsAsFactors = FALSE,
                       colClasses = c("integer", "integer", "character",
                                      rep("numeric", length(names))))
  out <- lapply(split(d, d$model), function(m) {
    j <- as.matrix(m[order(m$number), -(1:3), drop = FALSE])
    dimnames(j) <- list(names, names)
    j
  })
  names(out) <- paste("model", names(out))
  out
}

print.ecodyn_stability <- function(x, ...) {
  cat(x$title, "\n", sep = "")
  print(x$models[, c("model", "verdict", "dominant_real", "dominant_imaginary", "return_time",
                     "period", "s_min")], row.names = FALSE)
  invisible(x)
}
