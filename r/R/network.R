# Network and snapshot files (ecodyn-network(5)): reading, writing, printing.

max_compartments <- 75L
list_names <- c("biomass", "input", "export", "respiration")

# Returns the lines of a file as bytes (a carriage return before the line end
# kept, so that the file can be written back as it was), and whether the
# last line ends with a line end.
read_bytes <- function(file) {
  if (!file.exists(file)) stop(sprintf("%s: no such file", file), call. = FALSE)
  con <- file(file, "rb")
  on.exit(close(con))
  chunks <- list()
  repeat {
    chunk <- readBin(con, "raw", 1048576L)
    if (length(chunk) == 0) break
    chunks[[length(chunks) + 1L]] <- chunk
  }
  bytes <- unlist(chunks)
  if (length(bytes) == 0) stop(sprintf("%s: the file is empty", file), call. = FALSE)
  if (any(bytes == as.raw(0))) stop(sprintf("%s: the file holds a NUL byte", file), call. = FALSE)
  text <- rawToChar(bytes)
  Encoding(text) <- "bytes"
  lines <- strsplit(text, "\n", fixed = TRUE, useBytes = TRUE)[[1]]
  list(lines = lines, final_newline = bytes[length(bytes)] == as.raw(10))
}

# Returns a text field of the file as a string: UTF-8 when it is, Latin-1
# otherwise, blanks at the end removed.
as_text <- function(x) {
  x <- sub(" +$", "", x, useBytes = TRUE)
  Encoding(x) <- "unknown"
  Encoding(x) <- ifelse(validUTF8(x), "UTF-8", "latin1")
  x
}

# Returns the description `index` of a network or snapshot file (see ?read_network).
read_network <- function(file, index = NULL) {
  bytes <- read_bytes(file)
  descriptions <- parse_descriptions(bytes$lines, file)
  if (length(descriptions) == 0) stop(sprintf("%s: no network description", file), call. = FALSE)
  last <- length(descriptions)
  src <- attr(descriptions[[last]], "source")
  src$final_newline <- bytes$final_newline
  attr(descriptions[[last]], "source") <- src
  if (identical(index, "all")) return(structure(descriptions, class = "ecodyn_networks"))
  if (is.null(index)) return(descriptions[[last]])
  if (!is.numeric(index) || length(index) != 1 || index < 1 || index > last || index != round(index))
    stop(sprintf("%s holds %d description(s): index %s is not among them", file, last,
                 format(index)), call. = FALSE)
  descriptions[[index]]
}

# Returns every description of the lines, in order.
parse_descriptions <- function(raw_lines, file) {
  lines <- sub("\r$", "", raw_lines, useBytes = TRUE)
  vec <- split_fields(lines, c(3L, 14L, 14L, 14L))
  mat <- split_fields(lines, c(3L, 3L, 14L, 14L))
  first_index <- read_integers(vec[, 1])
  out <- list()
  p <- 1L
  n_lines <- length(lines)
  fail <- function(line, what) {
    stop(sprintf("%s, line %d: %s", file, line, what), call. = FALSE)
  }
  need <- function(line, what) {
    if (line > n_lines) fail(n_lines, sprintf("the file ends where %s is expected", what))
  }
  check_tabs <- function(line, texts, starts) {
    tab <- regexpr("\t", texts, fixed = TRUE)
    if (any(tab > 0)) {
      k <- which(tab > 0)[1]
      fail(line, sprintf("a tab in column %d, inside a numeric field: use spaces",
                         starts[k] + tab[k] - 1L))
    }
  }
  while (p <= n_lines) {
    title_line <- p
    digits_text <- substr(lines[p], 79L, 80L)
    check_tabs(p, digits_text, 79L)
    digits <- read_integers(digits_text)
    if (is.na(digits)) fail(p, "the balance digits in columns 79-80 are not a whole number")
    p <- p + 1L
    if (p > n_lines) break
    counts_fields <- split_fields(lines[p], c(3L, 3L, 3L, 10L))
    check_tabs(p, counts_fields[1, ], attr(counts_fields, "first")[1, ])
    counts <- read_integers(counts_fields[1, 1:3])
    if (anyNA(counts)) fail(p, "the counts record does not hold whole numbers in columns 1-9")
    time <- read_reals(counts_fields[1, 4], 3L)
    if (is.na(time$value)) fail(p, sprintf("cannot read the time '%s'", time$text))
    warn_implied(file, p, time, attr(counts_fields, "first")[1, 4], 10L)
    ncomp <- counts[1]
    nliv <- if (counts[2] <= 0) ncomp else counts[2]
    model <- if (counts[3] > 0) counts[3] else NA_integer_
    if (ncomp < 1 || ncomp > max_compartments)
      fail(p, sprintf("%d compartments: a network has 1 to %d", ncomp, max_compartments))
    if (nliv > ncomp) fail(p, sprintf("%d living compartments of %d", nliv, ncomp))
    counts_line <- p
    p <- p + 1L
    need(p + ncomp - 1L, "a name record")
    name_lines <- p:(p + ncomp - 1L)
    names <- as_text(substr(lines[name_lines], 1L, 25L))
    p <- p + ncomp
    records <- list()
    for (l in seq_along(list_names)) {
      start <- p
      for (r in seq_len(ncomp + 1L)) {
        need(p, sprintf("a record of the %s list", list_names[l]))
        i <- first_index[p]
        if (is.na(i)) fail(p, sprintf("cannot read the index '%s' of the %s list",
                                      vec[p, 1], list_names[l]))
        p <- p + 1L
        if (i <= 0) break
        if (i > ncomp) fail(p - 1L, sprintf("the %s list's index %d is beyond the %d compartments",
                                            list_names[l], i, ncomp))
      }
      records[[list_names[l]]] <- start:(p - 1L)
    }
    start <- p
    for (r in seq_len((ncomp + 1L)^2)) {
      need(p, "a record of the exchange list")
      ij <- read_integers(mat[p, 1:2])
      if (is.na(ij[1])) fail(p, sprintf("cannot read the origin '%s' of the exchange list", mat[p, 1]))
      p <- p + 1L
      if (ij[1] <= 0) break
      if (is.na(ij[2])) fail(p - 1L, sprintf("cannot read the destination '%s' of the exchange list",
                                             mat[p - 1L, 2]))
      if (ij[1] > ncomp || ij[2] < 1 || ij[2] > ncomp)
        fail(p - 1L, sprintf("the flow from %d to %d is outside the %d compartments", ij[1],
                             ij[2], ncomp))
    }
    records$exchange <- start:(p - 1L)
    net <- build_network(lines, vec, mat, records, file,
                         list(title = as_text(substr(lines[title_line], 1L, 78L)),
                              balance_digits = if (nchar(trimws(digits_text)) == 0) NA_integer_
                                               else digits,
                              ncomp = ncomp, nliv = nliv, model = model,
                              time = if (nchar(trimws(counts_fields[1, 4])) == 0) NA_real_
                                     else time$value,
                              names = names))
    sections <- list(title = title_line, counts = counts_line, names = name_lines)
    sections <- c(sections, records)
    attr(net, "source") <- list(lines = lapply(sections, function(s) raw_lines[s]),
                                rendered = render_sections(net), final_newline = TRUE)
    out[[length(out) + 1L]] <- net
  }
  out
}

# Warns of a real field read without a decimal point, as ecodyn does.
warn_implied <- function(file, line, values, first, width) {
  for (k in which(values$implied)) {
    warning(sprintf("%s, line %d: '%s' in columns %d-%d has no decimal point and reads as %s",
                    file, line, values$text[k], first[k], first[k] + width - 1L,
                    sub("^( *)(-?)\\.", "\\20.", trimws(format_e14(values$value[k])))),
            call. = FALSE)
  }
}

# Returns the values of the real fields of the records of a list (a matrix,
# one row per record), checked and warned about as ecodyn reads them.
list_values <- function(fields, rows, columns, file) {
  texts <- fields[rows, columns, drop = FALSE]
  first <- attr(fields, "first")[rows, columns, drop = FALSE]
  values <- matrix(0, length(rows), length(columns))
  for (k in seq_along(rows)) {
    tab <- regexpr("\t", texts[k, ], fixed = TRUE)
    if (any(tab > 0)) {
      c <- which(tab > 0)[1]
      stop(sprintf("%s, line %d: a tab in column %d, inside a numeric field: use spaces", file,
                   rows[k], first[k, c] + tab[c] - 1L), call. = FALSE)
    }
    r <- read_reals(texts[k, ], 7L)
    bad <- which(is.na(r$value))
    if (length(bad)) stop(sprintf("%s, line %d: cannot read '%s' in columns %d-%d as a number",
                                  file, rows[k], r$text[bad[1]], first[k, bad[1]],
                                  first[k, bad[1]] + 13L), call. = FALSE)
    huge <- which(abs(r$value) > single_max)
    if (length(huge)) stop(sprintf("%s, line %d: '%s' is beyond single precision", file, rows[k],
                                   r$text[huge[1]]), call. = FALSE)
    warn_implied(file, rows[k], r, first[k, ], 14L)
    values[k, ] <- r$value
  }
  values
}

# Returns the network object of a description whose records are known.
build_network <- function(lines, vec, mat, records, file, head) {
  n <- head$ncomp
  snapshot <- !is.na(head$model)
  vector_of <- function(name, columns) {
    rows <- records[[name]]
    v <- list_values(vec, rows, columns, file)
    index <- read_integers(vec[rows, 1])
    body <- index > 0
    out <- matrix(0, n, length(columns))
    out[index[body], ] <- v[body, , drop = FALSE]  # a later record wins
    list(values = out, end = v[length(rows), 1])
  }
  b <- vector_of("biomass", 2:4)
  inp <- vector_of("input", 2L)
  ex <- vector_of("export", 2:3)
  re <- vector_of("respiration", 2:3)
  compartments <- data.frame(number = seq_len(n), name = head$names,
                             living = seq_len(n) <= head$nliv, biomass = b$values[, 1],
                             input = inp$values[, 1], export = ex$values[, 1],
                             respiration = re$values[, 1], stringsAsFactors = FALSE)
  if (snapshot) {
    compartments$reference <- b$values[, 2]
    compartments$self <- b$values[, 3]
    compartments$export_coef <- ex$values[, 2]
    compartments$respiration_coef <- re$values[, 2]
  }
  rows <- records$exchange
  rows <- rows[-length(rows)]
  ends <- records$exchange[length(records$exchange)]
  if (read_integers(mat[ends, 1]) > 0) rows <- records$exchange  # the list ran to its limit
  values <- list_values(mat, rows, 3:4, file)
  from <- read_integers(mat[rows, 1])
  to <- read_integers(mat[rows, 2])
  keep <- !duplicated(cbind(from, to), fromLast = TRUE)
  flows <- data.frame(from = from[keep], to = to[keep], from_name = head$names[from[keep]],
                      to_name = head$names[to[keep]], flow = values[keep, 1],
                      stringsAsFactors = FALSE)
  if (snapshot) flows$coefficient <- values[keep, 2]
  flows <- flows[order(flows$from, flows$to), , drop = FALSE]
  rownames(flows) <- NULL
  structure(list(title = head$title, balance_digits = head$balance_digits, model = head$model,
                 time = head$time, tmax = b$end, compartments = compartments, flows = flows),
            class = "ecodyn_network")
}

# Returns a string as bytes padded with blanks to `width` bytes.
pad_bytes <- function(x, width, what) {
  bytes <- charToRaw(x)
  if (length(bytes) > width) stop(sprintf("%s '%s' is longer than %d characters", what, x, width),
                                  call. = FALSE)
  if (any(bytes == as.raw(10) | bytes == as.raw(13)))
    stop(sprintf("%s '%s' holds a line end", what, x), call. = FALSE)
  rawToChar(c(bytes, rep(as.raw(32), width - length(bytes))))
}

# Returns the lines of each section of a description as ecodyn writes it:
# only positive values listed, each list ended by an index of -1.
render_sections <- function(net) {
  cm <- net$compartments
  n <- nrow(cm)
  snapshot <- !is.na(net$model)
  check_single <- function(x, what) {
    bad <- which(!is.finite(x) | abs(x) > single_max)
    if (length(bad)) stop(sprintf("the %s %s cannot be held in single precision", what,
                                  format(x[bad[1]])), call. = FALSE)
  }
  title <- pad_bytes(net$title, 78L, "the title")
  if (!is.na(net$balance_digits) || snapshot) {
    digits <- if (is.na(net$balance_digits)) 0L else as.integer(net$balance_digits)
    title <- paste0(title, formatC(digits, width = 2L))
  }
  nliv <- sum(cm$living)
  if (n > max_compartments) stop(sprintf("a network has at most %d compartments", max_compartments),
                                 call. = FALSE)
  if (nliv > 0 && !all(cm$living[seq_len(nliv)]))
    stop("the living compartments must come first", call. = FALSE)
  counts <- sprintf("%3d%3d", n, nliv)
  if (snapshot) counts <- paste0(counts, sprintf("%3d", net$model), format_time(net$time))
  names <- vapply(cm$name, pad_bytes, "", width = 25L, what = "the name")
  names <- vapply(names, pad_bytes, "", width = 28L, what = "the name", USE.NAMES = FALSE)
  vector_list <- function(values, end) {
    check_single(values, "value")
    keep <- which(values[, 1] > 0)
    body <- if (length(keep)) paste0(sprintf("%3d", keep),
                                     apply(values[keep, , drop = FALSE], 1,
                                           function(v) paste(format_e14(v), collapse = "")))
    c(body, paste0(" -1", format_e14(end)))
  }
  with_coef <- function(v, coef) if (snapshot) cbind(v, coef) else cbind(v)
  fl <- net$flows
  check_single(fl$flow, "flow")
  fl <- fl[fl$flow > 0, , drop = FALSE]
  fl <- fl[order(fl$from, fl$to), , drop = FALSE]
  exchange <- if (nrow(fl)) {
    vals <- if (snapshot) cbind(fl$flow, fl$coefficient) else cbind(fl$flow)
    paste0(sprintf("%3d%3d", fl$from, fl$to),
           apply(vals, 1, function(v) paste(format_e14(v), collapse = "")))
  }
  list(title = title, counts = counts, names = names,
       biomass = vector_list(if (snapshot) cbind(cm$biomass, cm$reference, cm$self)
                             else cbind(cm$biomass), if (snapshot) net$tmax else 0),
       input = vector_list(cbind(cm$input), 0),
       export = vector_list(with_coef(cm$export, cm$export_coef), 0),
       respiration = vector_list(with_coef(cm$respiration, cm$respiration_coef), 0),
       exchange = c(exchange, paste0(" -1 -1", format_e14(0))))
}

# Writes a network or a list of networks; sections unchanged since reading keep their bytes.
write_network <- function(net, file) {
  nets <- if (inherits(net, "ecodyn_network")) list(net) else net
  if (!is.list(nets) || length(nets) == 0 ||
      !all(vapply(nets, inherits, TRUE, "ecodyn_network")))
    stop("write_network() takes an ecodyn_network or a list of them", call. = FALSE)
  lines <- character()
  final_newline <- TRUE
  for (d in nets) {
    now <- render_sections(d)
    src <- attr(d, "source")
    for (s in names(now)) {
      kept <- !is.null(src) && identical(now[[s]], src$rendered[[s]])
      lines <- c(lines, if (kept) src$lines[[s]] else now[[s]])
    }
    final_newline <- is.null(src) || isTRUE(src$final_newline)
  }
  bytes <- unlist(lapply(lines, function(l) c(charToRaw(l), as.raw(10))))
  if (!final_newline) bytes <- bytes[-length(bytes)]
  tmp <- paste0(file, ".tmp", Sys.getpid())
  con <- file(tmp, "wb")
  ok <- FALSE
  on.exit(if (!ok) unlink(tmp))
  writeBin(bytes, con)
  close(con)
  if (!file.rename(tmp, file)) stop(sprintf("cannot write %s", file), call. = FALSE)
  ok <- TRUE
  invisible(file)
}

# Returns a network without what keeps its file's own layout, so that it is
# written as ecodyn writes a network.
fresh_layout <- function(net) {
  attr(net, "source") <- NULL
  net
}

print.ecodyn_network <- function(x, ...) {
  cm <- x$compartments
  cat(x$title, "\n", sep = "")
  what <- if (is.na(x$model)) "steady-state network" else
    sprintf("snapshot of model type %d at t = %s", x$model, format(x$time))
  cat(sprintf("%s: %d compartments (%d living), %d flows\n", what, nrow(cm), sum(cm$living),
              sum(x$flows$flow > 0)))
  print(cm[, c("number", "name", "living", "biomass", "input", "export", "respiration")],
        row.names = FALSE)
  invisible(x)
}

print.ecodyn_networks <- function(x, ...) {
  cat(sprintf("%d network descriptions\n", length(x)))
  d <- data.frame(index = seq_along(x),
                  model = vapply(x, function(n) n$model, 1L),
                  time = vapply(x, function(n) n$time, 1),
                  compartments = vapply(x, function(n) nrow(n$compartments), 1L),
                  title = vapply(x, function(n) n$title, ""))
  print(d, row.names = FALSE)
  invisible(x)
}

# Returns the balance and throughput times of a network, as ecodyn reports them.
summary.ecodyn_network <- function(object, ...) {
  cm <- object$compartments
  fl <- object$flows
  n <- nrow(cm)
  into <- tabulate_flows(fl$to, fl$flow, n)
  out_of <- tabulate_flows(fl$from, fl$flow, n)
  inflow <- cm$input + into
  outflow <- cm$export + cm$respiration + out_of
  digits <- if (is.na(object$balance_digits)) 0L else object$balance_digits
  tolerance <- if (digits == 0) 0.001 else 10^(1 - digits)
  time <- cm$biomass / ((inflow + outflow) / 2)
  balance <- data.frame(number = cm$number, name = cm$name, inflow = inflow, outflow = outflow,
                        imbalance = inflow - outflow, throughput_time = time)
  structure(list(title = object$title, balance = balance, tolerance = tolerance,
                 balanced = all(abs(balance$imbalance) < tolerance),
                 shortest = balance[which.min(time), c("number", "name", "throughput_time")],
                 longest = balance[which.max(time), c("number", "name", "throughput_time")]),
            class = "summary.ecodyn_network")
}

# Returns the sum of the values at each index 1..n.
tabulate_flows <- function(index, value, n) {
  out <- numeric(n)
  if (length(index)) {
    s <- rowsum(value, index)
    out[as.integer(rownames(s))] <- s[, 1]
  }
  out
}

print.summary.ecodyn_network <- function(x, ...) {
  cat(x$title, "\n", sep = "")
  off <- sum(abs(x$balance$imbalance) >= x$tolerance)
  cat(if (x$balanced) sprintf("balanced within %g\n", x$tolerance) else
    sprintf("NOT balanced within %g: %d compartment(s) off\n", x$tolerance, off))
  cat(sprintf("shortest throughput time %.4g in %d (%s)\n", x$shortest$throughput_time,
              x$shortest$number, x$shortest$name))
  cat(sprintf("longest throughput time %.4g in %d (%s)\n", x$longest$throughput_time,
              x$longest$number, x$longest$name))
  print(x$balance, row.names = FALSE)
  invisible(x)
}
