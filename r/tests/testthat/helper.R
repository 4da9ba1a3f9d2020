# Returns whether a program can be found; a test that needs it is skipped
# only when no directory of programs was given at all.
have_program <- function(name) {
  found <- !inherits(try(ecodyn_program(name), silent = TRUE), "try-error")
  given <- !is.null(getOption("ecodyn.bin")) || nzchar(Sys.getenv("ECODYN_BIN"))
  if (!found && given) stop(name, " is missing where the programs are")
  found
}
skip_without <- function(name) skip_if_not(have_program(name), paste(name, "not found"))

# Returns a file of the source tree's examples/ (ECODYN_EXAMPLES), skipping
# when the tree is not at hand.
example_file <- function(...) {
  dir <- Sys.getenv("ECODYN_EXAMPLES")
  skip_if(!nzchar(dir), "ECODYN_EXAMPLES not set")
  file.path(dir, ...)
}
bundled <- function(name) system.file("extdata", name, package = "ecodyn")
same_bytes <- function(a, b) identical(readBin(a, "raw", 1e8), readBin(b, "raw", 1e8))

# Returns the model's right-hand side for deSolve: y the biomasses, the
# coefficients from the network's flows and biomasses; s the self-terms.
model_rhs <- function(net, type) {
  cm <- net$compartments
  n <- nrow(cm)
  B <- cm$biomass
  X <- matrix(0, n, n)
  X[cbind(net$flows$from, net$flows$to)] <- net$flows$flow
  loss <- (cm$export + cm$respiration) / B
  living <- cm$living
  A <- if (type == 2) X / B else X / outer(B, ifelse(living, B, 1))
  diag(A) <- if (type == 2) diag(A) else 0
  function(t, y, p) {
    F <- if (type == 2) A * y else A * outer(y, ifelse(living, y, 1))
    dy <- cm$input - loss * y + colSums(F) - rowSums(F)
    if (type == 3) dy <- dy + p$s * y * (y - B)
    list(dy)
  }
}
