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
