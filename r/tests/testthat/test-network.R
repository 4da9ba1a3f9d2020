test_that("every bundled and published network and snapshot file is written back byte for byte", {
  files <- c(bundled("two_compartments.net"), bundled("grazing_chain.net"))
  if (nzchar(Sys.getenv("ECODYN_EXAMPLES")))
    files <- c(files, Sys.glob(example_file("networks", "*.net")),
               Sys.glob(example_file("expected", "*", "fort.18")))
  out <- tempfile()
  for (f in files) {
    all <- read_network(f, "all")
    write_network(unclass(all), out)
    expect_true(same_bytes(f, out), label = f)
    # Written afresh, as ecodyn writes a network: the importer's networks and
    # ecodyn's snapshots have that layout.
    if (!grepl("^(two_compartments|grazing_chain)", basename(f))) {
      write_network(lapply(unclass(all), function(d) { attr(d, "source") <- NULL; d }), out)
      expect_true(same_bytes(f, out), label = paste(f, "in the layout ecodyn writes"))
    }
  }
})

test_that("fields are read as ecodyn reads them, or refused naming the line", {
  net <- function(b1 = "       10.0000", tail = "") {
    c("T", "  2  1", "PLANTS", "DETRITUS", paste0("  1", b1), "  2       20.0000", " -1",
      "  1        5.0000", " -1", "  1        1.0000", "  2        2.0000", " -1",
      "  1        2.0000", " -1", "  1  2        3.0000", "  2  1        1.0000", " -1 -1", tail)
  }
  cases <- list(
    list(b1 = "       10.0000", biomass = 10),
    list(b1 = "             5", biomass = 5e-7, warning = "'5' in columns 4-17 .* 0.5000000E-06"),
    list(b1 = "       1.5+1", biomass = 15),
    list(b1 = "  1 0.5", biomass = 10.5),
    list(b1 = "  10,", biomass = 1e-6, warning = "'10' in columns 4-17"),
    list(b1 = "  .1000000E+02\r", biomass = 10),
    list(b1 = "      1\t0.0", error = "line 5: a tab in column 11"),
    list(b1 = "       ten", error = "line 5: cannot read 'ten'"),
    list(b1 = "       1.0E+39", error = "line 5: '1.0E\\+39' is beyond single precision"))
  file <- tempfile()
  for (case in cases) {
    writeLines(net(case$b1), file)
    if (!is.null(case$error)) {
      expect_error(read_network(file), case$error, label = case$b1)
    } else if (!is.null(case$warning)) {
      expect_warning(n <- read_network(file), case$warning)
      expect_equal(n$compartments$biomass[1], case$biomass)
    } else {
      expect_equal(read_network(file)$compartments$biomass[1], case$biomass, label = case$b1)
    }
  }
  # A later record wins, a blank line ends a list, a list without an end
  # ends after n + 1 records.
  lines <- net()
  lines[5:7] <- c("  1       10.0000", "  1       12.0000", "")
  writeLines(lines, file)
  expect_equal(read_network(file)$compartments$biomass, c(12, 0))
  writeLines(c(lines[1:4], "  1  1.", "  2  2.", "  1  3.", lines[8:17]), file)
  expect_equal(read_network(file)$compartments$biomass, c(3, 2))
  # A comma ends a field, and the next one begins after it.
  writeLines(sub("  1  2        3.0000", "1,2,3.0", net(), fixed = TRUE), file)
  expect_equal(read_network(file)$flows$flow[1], 3)
  # Errors of structure.
  writeLines(sub("  1  2        3.0000", "  1  3        3.0000", net()), file)
  expect_error(read_network(file), "line 15: the flow from 1 to 3 is outside")
  writeLines(net()[1:12], file)
  expect_error(read_network(file), "line 12: the file ends where a record of the respiration")
  writeLines(c(net()[-18], net()[-18]), file)
  expect_equal(length(read_network(file, "all")), 2)
  expect_error(read_network(file, 3), "holds 2 description")
})

test_that("a changed network is written as ecodyn writes it, and reads back the same", {
  net <- read_network(bundled("two_compartments.net"))
  net$compartments$biomass[1] <- 1 / 3
  net$flows$flow[2] <- 0
  file <- tempfile()
  write_network(net, file)
  lines <- readLines(file)
  expect_equal(lines[c(1:4, 8:14)], readLines(bundled("two_compartments.net"))[c(1:4, 8:14)])
  expect_equal(lines[5:7], c("  1  .3333333E+00", "  2  .2000000E+02", " -1  .0000000E+00"))
  expect_equal(lines[15:16], c("  1  2  .3000000E+01", " -1 -1  .0000000E+00"))
  again <- read_network(file)
  expect_equal(again$compartments$biomass, c(0.3333333, 20))
  net$compartments$name[1] <- strrep("N", 26)
  expect_error(write_network(net, file), "longer than 25")
  net$compartments$name[1] <- "PLANTS"
  net$compartments$input[1] <- 1e39
  expect_error(write_network(net, file), "single precision")
  expect_equal(readLines(file)[5], "  1  .3333333E+00")  # the file written before is kept
})

test_that("the summary gives ecodyn's balance and throughput times", {
  s <- summary(read_network(bundled("two_compartments.net")))
  expect_true(s$balanced)
  expect_equal(s$balance$throughput_time, c(10 / 6, 20 / 3))
  expect_equal(s$longest$number, 2)
})
