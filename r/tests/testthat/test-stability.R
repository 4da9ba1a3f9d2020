test_that("the Jacobian of linear donor control is the flows over the donors' biomasses", {
  skip_without("ecodyn-stability")
  net <- read_network(bundled("grazing_chain.net"))
  s <- stability(net)
  cm <- net$compartments
  X <- matrix(0, 4, 4)
  X[cbind(net$flows$from, net$flows$to)] <- net$flows$flow
  J <- t(X / cm$biomass)
  diag(J) <- -(cm$export + cm$respiration + rowSums(X)) / cm$biomass
  expect_equal(unname(s$jacobian[["model 2"]]), J, tolerance = 1e-6)
  expect_equal(dimnames(s$jacobian[["model 2"]]), list(cm$name, cm$name))
  for (m in 1:3) {
    e <- eigen(s$jacobian[[m]], only.values = TRUE)$values
    expect_equal(sort(Re(e)), sort(s$eigenvalues$real[s$eigenvalues$model == m]),
                 tolerance = 1e-6)
    expect_equal(s$return_time[[m]], 1 / abs(Re(s$dominant[[m]])))
  }
  expect_equal(s$period[["model 1"]], 2 * pi / Im(s$dominant[["model 1"]]))
  expect_warning(bad <- stability(net, perturb = "biomass:2=0"), "model 1 not analysed")
  expect_match(bad$models$error[1], "BIOMASS DRIVEN NEGATIVE")
  expect_true(is.matrix(stability(net, model = 3)$jacobian))
})

test_that("SCOR goes through the importer and exporter: the published networks come back", {
  skip_without("ecodyn-import")
  skip_without("ecodyn-export")
  out <- tempfile()
  for (f in Sys.glob(example_file("networks", "scor", "*.txt"))) {
    name <- sub("\\.txt$", ".net", basename(f))
    bundled_net <- example_file("networks", name)
    digits <- read_network(bundled_net)$balance_digits
    net <- import_scor(f, balance_digits = if (!is.na(digits)) digits, quiet = TRUE)
    write_network(net, out)
    expect_true(same_bytes(bundled_net, out), label = name)
  }
  chain <- read_network(bundled("grazing_chain.net"))
  write_scor(chain, out)
  expect_equal(import_scor(out)[c("compartments", "flows")], chain[c("compartments", "flows")])
  said <- character()
  withCallingHandlers(import_scor(example_file("networks", "scor", "chesapeake_bay_mesohaline.txt")),
                      warning = function(w) {
                        said <<- c(said, conditionMessage(w))
                        invokeRestart("muffleWarning")
                      })
  expect_match(said, "cut to 25 characters", all = FALSE)
  expect_match(said, "--balance-digits 1 would pass", all = FALSE)
})
