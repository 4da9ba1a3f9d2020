test_that("a perturbation by name gives the transcript's table and the snapshots' seven digits", {
  for (p in c("ecodyn-ensemble", "ecodyn-run", "ecodyn-csv")) skip_without(p)
  net <- bundled("grazing_chain.net")
  run <- run_scenario(net, model = c(1, 3), end = 20, print = 2,
                      perturb = list(kind = "biomass", compartment = "predators", factor = 0.25))
  dir <- tempfile()
  expect_equal(system2(ecodyn_program("ecodyn-run"), c(net, "--model", "1,3", "--end", "20",
                       "--print", "2", "--snapshot", "2", "--perturb", shQuote("biomass:3=2"),
                       "--dir", dir), stdout = FALSE), 0)
  csv <- function(...) read.csv(text = system2(ecodyn_program("ecodyn-csv"), c(...),
                                               stdout = TRUE), check.names = FALSE)
  table <- csv(file.path(dir, "fort.8"))
  wide <- as_wide(run)
  expect_equal(names(wide), c("model 1", "model 3"))
  for (k in 1:2) {
    rows <- table[table$cycle == k, ]
    expect_equal(wide[[k]][, "time"], rows$time)
    expect_equal(signif(wide[[k]][, -1], 3), as.matrix(rows[, -(1:2)]), ignore_attr = TRUE)
  }
  # The snapshots hold seven digits (at most half a unit of the seventh off)
  # and the time to three decimals.
  snaps <- as.matrix(csv("--snapshots", file.path(dir, "fort.18"))[, -(1:2)])
  exact <- rbind(wide[[1]], wide[[2]])
  expect_lte(max(abs(exact[, 1] - snaps[, 1])), 5e-4)
  expect_lte(max(abs(exact[, -1] - snaps[, -1]) / abs(snaps[, -1])), 5e-7)
  expect_gt(mean(exact[, -1] != snaps[, -1]), 0.5)  # digits beyond the seventh
  expect_equal(attr(run, "ending"), list(ending = "end", status = 0, message = NA_character_))
  expect_output(print(subset(run, time == 20)), "PREDATORS")  # rows taken out print as rows
})

test_that("an error stop returns what was computed; refusals and missing programs are errors", {
  skip_without("ecodyn-ensemble")
  chain <- read_network(bundled("grazing_chain.net"))
  expect_warning(run <- run_scenario(chain, model = 1:2, end = 10, print = 1,
                                     perturb = "respiration:2=100000"),
                 "stopped at t = 0 under model 1: BIOMASS DRIVEN NEGATIVE.")
  expect_equal(attr(run, "ending"), list(ending = "error stop", status = 1,
                                         message = "BIOMASS DRIVEN NEGATIVE."))
  expect_equal(run$model, rep(1:2, each = 4))
  expect_equal(run$biomass, rep(chain$compartments$biomass, 2))
  # Extinctions from the report's notices.
  ext <- run_scenario(chain, end = 2, print = 0.25, perturb = data.frame(
    kind = c("exchange", "respiration"), compartment = c(2, 3), destination = c(3, NA),
    value = c(0, 40)))
  expect_equal(attr(ext, "extinctions"),
               data.frame(model = 2L, time = 0.6278663, compartment = 3L, name = "PREDATORS"),
               tolerance = 1e-7)
  expect_error(run_scenario(chain, end = 10, perturb = list(kind = "biomass",
                                                             compartment = "wolves", value = 1)),
               "no compartment is named 'wolves'", class = "ecodyn_error")
  broken <- chain
  broken$compartments$biomass[2] <- 0
  expect_error(run_scenario(broken, end = 10), "BIOMASSES MUST BE GREATER THAN ZERO.")
  expect_error(run_scenario(chain, model = c(2, 2), end = 10), "each at most once")
  withr::with_options(list(ecodyn.bin = tempdir()),
                      expect_error(run_scenario(chain, end = 10),
                                   "ecodyn-ensemble was not found in .* \\(option ecodyn.bin\\).*ECODYN_BIN.*PATH"))
  withr::with_envvar(c(ECODYN_BIN = "", PATH = tempdir()), withr::with_options(
    list(ecodyn.bin = NULL), expect_error(stability(chain), "ecodyn-stability was not found on PATH")))
  png(file.path(tempdir(), "run.png"))
  expect_silent(plot(ext, compartments = c("grazers", 3)))
  dev.off()
  expect_error(plot(ext, compartments = "wolves"), "no compartment")
})
