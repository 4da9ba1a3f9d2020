# The SCOR exchange format, through ecodyn-import and ecodyn-export.

# Returns the network ecodyn-import makes of a SCOR file; its warnings become R warnings.
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

# Writes a network as SCOR with ecodyn-export.
write_scor <- function(net, file) {
  tmp <- tempfile("ecodyn")
  dir.create(tmp)
  on.exit(unlink(tmp, recursive = TRUE))
  run_program("ecodyn-export", c(network_file(net, tmp), "--scor", "-o", file))
  invisible(file)
}
