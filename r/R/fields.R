# Fixed-column fields of the network file, read and written as ecodyn does.

single_max <- 3.4028235e38

# Returns the texts of the fields of `widths` in each line: a field ends at
# its width, or early at a comma, and the next field then begins after it.
# A matrix with one row per line and one column per field, and an attribute
# "first" with the first column of each field (of each line).
split_fields <- function(lines, widths) {
  n <- length(lines)
  starts <- cumsum(c(1L, widths))[seq_along(widths)]
  texts <- matrix("", n, length(widths))
  first <- matrix(starts, n, length(widths), byrow = TRUE)
  for (k in seq_along(widths)) {
    texts[, k] <- substr(lines, starts[k], starts[k] + widths[k] - 1L)
  }
  commas <- which(grepl(",", lines, fixed = TRUE))
  for (l in commas) {
    pos <- 1L
    line <- lines[l]
    for (k in seq_along(widths)) {
      text <- substr(line, pos, pos + widths[k] - 1L)
      first[l, k] <- pos
      comma <- regexpr(",", text, fixed = TRUE)
      if (comma > 0) {
        texts[l, k] <- substr(text, 1L, comma - 1L)
        pos <- pos + comma
      } else {
        texts[l, k] <- text
        pos <- pos + widths[k]
      }
    }
  }
  attr(texts, "first") <- first
  texts
}

# Returns the integers of I fields (blanks ignored, blank is 0), NA where the
# text is not a whole number.
read_integers <- function(texts) {
  t <- gsub(" ", "", texts, fixed = TRUE)
  ok <- grepl("^[+-]?[0-9]{1,9}$", t)
  out <- rep(NA_integer_, length(t))
  out[ok] <- as.integer(t[ok])
  out[t == ""] <- 0L
  out
}

real_pattern <- "^([+-]?)([0-9]*)(\\.?)([0-9]*)(([EeDdQq]([+-]?[0-9]+))|([+-][0-9]+))?$"

# Returns the values of real fields with `decimals` implied decimals, as the
# run-time reads them: blanks ignored, blank is 0, an exponent with or
# without its letter, and a number without a decimal point scaled by
# 10^-decimals. A list of the values (NA where unreadable) and whether each
# was read without a decimal point with a non-zero mantissa.
read_reals <- function(texts, decimals) {
  t <- gsub(" ", "", texts, fixed = TRUE)
  m <- regmatches(t, regexec(real_pattern, t))
  value <- rep(NA_real_, length(t))
  implied <- logical(length(t))
  for (k in seq_along(t)) {
    if (t[k] == "") {
      value[k] <- 0
      next
    }
    p <- m[[k]]
    if (length(p) == 0 || (p[3] == "" && p[5] == "")) next
    exponent <- if (p[8] != "") as.integer(p[8]) else if (p[9] != "") as.integer(p[9]) else 0L
    if (p[4] == "") {
      exponent <- exponent - decimals
      implied[k] <- grepl("[1-9]", p[3])
    }
    value[k] <- as.numeric(paste0(p[2], if (p[3] == "") "0" else p[3], ".", p[5], "e", exponent))
  }
  list(value = value, implied = implied, text = t)
}

# Returns a value as an E14.7 field shows it (".1000000E+02").
format_e14 <- function(x) {
  out <- character(length(x))
  for (k in seq_along(x)) {
    v <- x[k]
    if (v == 0) {
      out[k] <- ".0000000E+00"
      next
    }
    s <- sprintf("%.6e", abs(v))
    power <- as.integer(substr(s, 10L, nchar(s))) + 1L
    out[k] <- sprintf("%s.%s%sE%s%02d", if (v < 0) "-" else "", substr(s, 1L, 1L),
                      substr(s, 3L, 8L), if (power < 0) "-" else "+", abs(power))
  }
  formatC(out, width = 14L)
}

# Returns x rounded to the nearest single-precision value.
as_single <- function(x) {
  readBin(writeBin(as.numeric(x), raw(), size = 4L), "double", n = length(x), size = 4L)
}

# Returns a value as Fw.d writes it, no 0 before the point.
format_f <- function(x, width, decimals) {
  s <- sprintf("%.*f", decimals, x)
  if (decimals == 0) s <- paste0(s, ".")
  s <- sub("^(-?)0\\.", "\\1.", s)
  formatC(s, width = width)
}

# Returns the time of a snapshot's counts record in ten columns: F10.3 where
# it fits, otherwise as many decimals as fit, otherwise an exponent.
format_time <- function(t) {
  t <- as_single(t)
  limits <- if (t >= 0) c(999999.9995, 9999999.995, 99999999.95, 999999999.5) else
    -c(99999.9995, 999999.995, 9999999.95, 99999999.5)
  for (d in 3:0) {
    inside <- if (t >= 0) t < limits[4 - d] else t > limits[4 - d]
    if (inside) return(format_f(t, 10L, d))
  }
  formatC(sprintf("%.*E", if (t >= 0) 4L else 3L, t), width = 10L)
}
