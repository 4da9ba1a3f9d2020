# Runs the model in plain R with deSolve, interval by interval, the type-3
# self-coefficients s fading after each print interval. y the biomasses; the
# coefficients from the network's flows X and biomasses B.
oracle <- function(net, type, y0, times, tmax) {
  cm <- net$compartments
  B <- cm$biomass
  X <- matrix(0, nrow(cm), nrow(cm))
  X[cbind(net$flows$from, net$flows$to)] <- net$flows$flow
  loss <- (cm$export + cm$respiration) / B
  A <- if (type == 2) X / B else X / outer(B, ifelse(cm$living, B, 1))
  if (type == 3) diag(A) <- 0
  rhs <- function(t, y, s) {
    F <- if (type == 2) A * y else A * outer(y, ifelse(cm$living, y, 1))
    list(cm$input - loss * y + colSums(F) - rowSums(F) + if (type == 3) s * y * (y - B) else 0)
  }
  s <- ifelse(cm$living, -4 * (cm$input - cm$respiration + colSums(X)) / B^2, 0)
  out <- matrix(y0, 1)
  for (k in seq_len(length(times) - 1)) {
    piece <- deSolve::ode(out[k, ], times[k:(k + 1)], rhs, s, method = "lsoda",
                          rtol = 1e-8, atol = 1e-10)
    out <- rbind(out, piece[2, -1])
    s <- s * exp(-(times[k + 1] - times[k]) / (2 * tmax))
    s[-s <= 1e-14] <- 0
  }
  out
}

test_that("runs agree with the model written in R and integrated by deSolve", {
  skip_without("ecodyn-ensemble")
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
