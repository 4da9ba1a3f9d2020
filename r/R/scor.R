# The SCOR exchange format, through ecodyn-import and ecodyn-export.

#' Read and write networks in the SCOR exchange format
#'
#' `import_scor()` converts a SCOR file with `ecodyn-import` and reads the
#' network it writes; the importer's warnings (names cut, values that lose
#' digits, a balance beyond the tolerance) become R warnings. `write_scor()`
#' writes a network as SCOR with `ecodyn-export --scor`.
#'
#' @param file the SCOR file to read or write.
#' @param balance_digits the balance digits of the title record (the
#'   importer's `--balance-digits`); default blank, a tolerance of 0.001.
#' @param quiet `TRUE` to pass on no warnings of the importer.
#' @param net an `ecodyn_network` or the name of a network file.
#' @return `import_scor()`: an `ecodyn_network`; `write_scor()`: `file`,
#'   invisibly.
#' @examples
#' if (!inherits(try(ecodyn_program("ecodyn-export"), silent = TRUE), "try-error")) {
#'   net <- read_network(system.file("extdata", "grazing_chain.net", package = "ecodyn"))
#'   scor <- tempfile(fileext = ".txt")
#'   write_scor(net, scor)
#'   again <- import_scor(scor)
#'   all.equal(again$flows, net$flows)
#' }
#' @export
import_scor <- function(file, balance_digits = NULL, quiet = FALSE) {
  if (!file.exists(file)) stop(sprintf("%s: no such file", file), call. = FALSE)
  tmp <- tempfile("ecodyn", fileext = ".net")
  on.exit(unlink(tmp))
  args <- c(normalizePath(file), "-o", tmp,
            if (!is.null(balance_digits)) c("--balance-digits", as.character(balance_digits)),
            if (quiet) "--quiet")
  r <- run_program("ecodyn-import", args)
  for (w in strsplit(sub("\n+$", "", r$stderr), "\n")[[1]]) warning(w, call. = FALSE)
  read_network(tmp)
}

#' @rdname import_scor
#' @export
write_scor <- function(net, file) {
  tmp <- tempfile("ecodyn")
  dir.create(tmp)
  on.exit(unlink(tmp, recursive = TRUE))
  run_program("ecodyn-export", c(network_file(net, tmp), "--scor", "-o", file))
  invisible(file)
}
