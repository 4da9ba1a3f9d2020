test_that("ensemble() runs the tool, and its database reads back whole and consistent", {
  skip_without("ecodyn-ensemble")
  db <- tempfile(fileext = ".sqlite")
  e <- ensemble(bundled("grazing_chain.net"), end = 5, print = 1, draws = 3, seed = 1,
                sweep = "biomass:GRAZERS=x0.5,x1", vary = "biomass:PREDATORS=uniform:20%",
                record = "all", db = db, trajectories = TRUE)
  expect_equal(e$settings[c("draws", "vary", "perturb", "record")],
               list(draws = "3", vary = "biomass:PREDATORS=uniform:20%", perturb = "",
                    record = "all"))
  expect_equal(e$scenarios$sweep1, c(0.5, 1))
  expect_equal(e$outcomes$label, rep(paste0("model 2, biomass:GRAZERS=x", c(0.5, 1)), each = 3))
  expect_equal(e$outcomes$accepted, rep(TRUE, 6))
  # The starting biomasses: the sweep's grazers, the drawn predators (the
  # same draws in both scenarios, within 20%).
  start <- e$trajectories[e$trajectories$step == 0, ]
  expect_equal(start$biomass[start$compartment == 2], rep(c(30, 60), each = 3))
  f <- e$factors$factor
  expect_equal(f[1:3], f[4:6])
  expect_true(all(abs(f - 1) <= 0.2))
  expect_equal(start$biomass[start$compartment == 3], 8 * f, tolerance = 1e-6)
  # The summary is the mean and R's quantiles of the members' trajectories.
  t <- merge(e$trajectories, e$outcomes[c("member", "scenario")])
  stats <- aggregate(biomass ~ compartment + step + scenario, t, function(b)
    c(mean(b), quantile(b, c(0.05, 0.25, 0.5, 0.75, 0.95), names = FALSE)))
  expect_equal(as.matrix(e$summary[, c("mean", "q05", "q25", "q50", "q75", "q95")]),
               stats$biomass, ignore_attr = TRUE, tolerance = 1e-12)
  con <- DBI::dbConnect(RSQLite::SQLite(), db)
  DBI::dbExecute(con, "PRAGMA user_version = 2")
  DBI::dbDisconnect(con)
  expect_error(read_ensemble(db), "format 2")
  expect_warning(expect_error(read_ensemble(bundled("grazing_chain.net")),
                              "not an ensemble database"), NA)
})
