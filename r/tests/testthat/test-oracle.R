# Runs the model in plain R with deSolve, interval by interval, the type-3
# self-coefficients fading after each print interval.
oracle <- function(net, type, y0, times, tmax) {
  cm <- net$compartments
  X <- matrix(0, nrow(cm), nrow(cm))
  X[cbind(net$flows$from, net$flows$to)] <- net$flows$flow
  supply <- cm$input - cm$respiration + colSums(X)
  p <- list(s = ifelse(cm$living, -4 * supply / cm$biomass^2, 0))
  rhs <- model_rhs(net, type)
  out <- matrix(y0, 1)
  for (k in seq_len(length(times) - 1)) {
    piece <- deSolve::ode(out[k, ], times[k:(k + 1)], rhs, p, method = "lsoda",
                          rtol = 1e-8, atol = 1e-10)
    out <- rbind(out, piece[2, -1])
    p$s <- p$s * exp(-(times[k + 1] - times[k]) / (2 * tmax))
    p$s[-p$s <= 1e-14] <- 0
  }
  out
}

test_that("runs agree with the model written in R and integrated by deSolve", {
  skip_without("ecodyn-run")
  skip_if_not_installed("deSolve")
  cases <- list(
    list(net = read_network(bundled("grazing_chain.net")), type = 2, end = 30, print = 1,
         change = list(kind = "biomass", compartment = "PREDATORS", factor = 0.25)),
    list(net = read_network(bundled("two_compartments.net")), type = 3, end = 20, print = 0.5,
         change = list(kind = "biomass", compartment = "PLANTS", value = 4)),
    list(net = read_network(bundled("two_compartments.net")), type = 2, end = 20, print = 0.5,
         change = list(kind = "biomass", compartment = "DETRITUS", value = 30)))
  if (nzchar(Sys.getenv("ECODYN_EXAMPLES")))
    cases <- c(cases, list(
      list(net = read_network(example_file("networks", "cone_spring.net")), type = 2, end = 2.5,
           print = 0.05, change = list(kind = "biomass", compartment = "CARNIVORES", factor = 2)),
      list(net = read_network(example_file("networks", "baltic_sea_aggregated.net")), type = 2,
           end = 2, print = 0.05, change = list(kind = "biomass", compartment = 3, factor = 2))))
  worst <- numeric()
  for (case in cases) {
    run <- run_scenario(case$net, model = case$type, end = case$end, print = case$print,
                        perturb = case$change)
    wide <- as_wide(run)
    y0 <- wide[1, -1]
    tmax <- max(summary(case$net)$balance$throughput_time)
    expected <- oracle(case$net, case$type, y0, wide[, "time"], tmax)
    relative <- max(abs(wide[, -1] - expected) / abs(expected))
    worst <- c(worst, relative)
    expect_lt(relative, 1e-5)
    # The run is not at rest: the perturbed compartment moves.
    expect_gt(max(abs(diff(wide[, -1]))), 1e-3)
  }
  message(sprintf("deSolve agreement, largest relative difference: %s",
                  paste(sprintf("%.2e", worst), collapse = ", ")))
})
