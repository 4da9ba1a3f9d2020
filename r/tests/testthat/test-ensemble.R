# Writes a database of two scenarios (a sweep of the predators' biomass) of
# two draws each, one member rejected and one not yet run, as the layout
# of ecodyn-ensemble has it.
make_ensemble <- function(file, application_id = 1162036313, version = 1) {
  con <- DBI::dbConnect(RSQLite::SQLite(), file)
  on.exit(DBI::dbDisconnect(con))
  run <- function(sql) DBI::dbExecute(con, sql)
  run(sprintf("PRAGMA application_id = %d", application_id))
  run(sprintf("PRAGMA user_version = %d", version))
  run("CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID")
  run("CREATE TABLE compartment(compartment INTEGER PRIMARY KEY, name TEXT NOT NULL, living INTEGER NOT NULL, biomass REAL NOT NULL)")
  run("CREATE TABLE scenario(scenario INTEGER PRIMARY KEY, model INTEGER NOT NULL, label TEXT NOT NULL)")
  run("CREATE TABLE sweep(scenario INTEGER NOT NULL, sweep INTEGER NOT NULL, kind TEXT NOT NULL, origin INTEGER NOT NULL, destination INTEGER NOT NULL, factor INTEGER NOT NULL, value REAL NOT NULL, PRIMARY KEY(scenario, sweep)) WITHOUT ROWID")
  run("CREATE TABLE member(member INTEGER PRIMARY KEY, scenario INTEGER NOT NULL, draw INTEGER NOT NULL)")
  run("CREATE TABLE factor(member INTEGER NOT NULL, position INTEGER NOT NULL, kind TEXT NOT NULL, origin INTEGER NOT NULL, destination INTEGER NOT NULL, factor REAL NOT NULL, PRIMARY KEY(member, position)) WITHOUT ROWID")
  run("CREATE TABLE outcome(member INTEGER PRIMARY KEY, ending TEXT NOT NULL, status INTEGER NOT NULL, message TEXT, end_time REAL NOT NULL, accepted INTEGER NOT NULL, rejection TEXT, resilience REAL, extinctions INTEGER NOT NULL)")
  run("CREATE TABLE extinction(member INTEGER NOT NULL, compartment INTEGER NOT NULL, time REAL NOT NULL, PRIMARY KEY(member, compartment)) WITHOUT ROWID")
  run("CREATE TABLE recorded(position INTEGER PRIMARY KEY, compartment INTEGER NOT NULL)")
  run("CREATE TABLE trajectory_row(member INTEGER NOT NULL, step INTEGER NOT NULL, time REAL NOT NULL, biomass TEXT NOT NULL, PRIMARY KEY(member, step)) WITHOUT ROWID")
  run(paste("CREATE VIEW trajectory(member, step, time, compartment, biomass) AS",
            "SELECT r.member, r.step, r.time, c.compartment, j.value",
            "FROM trajectory_row AS r, json_each(r.biomass) AS j JOIN recorded AS c ON c.position = j.key"))
  run("CREATE TABLE summary(scenario INTEGER NOT NULL, step INTEGER NOT NULL, time REAL NOT NULL, compartment INTEGER NOT NULL, members INTEGER NOT NULL, mean REAL NOT NULL, q05 REAL NOT NULL, q25 REAL NOT NULL, q50 REAL NOT NULL, q75 REAL NOT NULL, q95 REAL NOT NULL, PRIMARY KEY(scenario, step, compartment)) WITHOUT ROWID")
  settings <- c(format = "1", program = "ecodyn-ensemble 1.0.0", network = "chain.net",
                models = "2", start = "0", end = "2", print = "1", sweep = "biomass:3=x0.5,x1",
                perturb = "", vary = "export:4=uniform:20%", draws = "2", seed = "7",
                record = "followed", follow = "2,3", scenarios = "2", members = "4",
                shard = "1/1", title = "CHAIN")
  DBI::dbWriteTable(con, "settings", data.frame(key = names(settings), value = settings),
                    append = TRUE)
  run("INSERT INTO compartment VALUES (1,'GRASS',1,500),(2,'GRAZERS',1,60),(3,'PREDATORS',1,8),(4,'DETRITUS',0,1000)")
  run("INSERT INTO scenario VALUES (1,2,'model 2, biomass:3=x0.5'),(2,2,'model 2, biomass:3=x1')")
  run("INSERT INTO sweep VALUES (1,1,'biomass',3,0,1,0.5),(2,1,'biomass',3,0,1,1)")
  run("INSERT INTO member VALUES (1,1,1),(2,1,2),(3,2,1)")
  run("INSERT INTO factor VALUES (1,1,'export',4,0,1.1),(2,1,'export',4,0,0.9),(3,1,'export',4,0,1.1)")
  run(paste("INSERT INTO outcome VALUES (1,'end',0,NULL,2,1,NULL,1,0),",
            "(2,'end',0,NULL,2,0,'extinction',NULL,1),(3,'end',0,NULL,2,1,NULL,0,0)"))
  run("INSERT INTO extinction VALUES (2,3,1.5)")
  run("INSERT INTO recorded VALUES (0,2),(1,3)")
  run(paste("INSERT INTO trajectory_row VALUES (1,0,0,'[60,4]'),(1,1,1,'[61.5,5.25]'),",
            "(3,0,0,'[60,8]'),(3,1,1,'[60,8.000001]')"))
  run("INSERT INTO summary VALUES (1,0,0,2,1,60,60,60,60,60,60),(1,0,0,3,1,4,4,4,4,4,4)")
}

test_that("an ensemble database reads as its settings, outcomes, summary and trajectories", {
  file <- tempfile(fileext = ".sqlite")
  make_ensemble(file)
  e <- read_ensemble(file, trajectories = TRUE)
  expect_equal(e$settings$vary, "export:4=uniform:20%")
  expect_equal(e$settings$perturb, "")
  expect_equal(e$scenarios$sweep1, c(0.5, 1))
  expect_equal(e$outcomes$member, 1:3)
  expect_equal(e$outcomes$label[3], "model 2, biomass:3=x1")
  expect_equal(e$outcomes$accepted, c(TRUE, FALSE, TRUE))
  expect_equal(e$outcomes$rejection, c(NA, "extinction", NA))
  expect_equal(e$compartments$living, c(TRUE, TRUE, TRUE, FALSE))
  expect_equal(e$trajectories$compartment, rep(c(2, 3), 4))
  expect_equal(e$trajectories$biomass[e$trajectories$member == 3], c(60, 8, 60, 8.000001))
  expect_equal(nrow(e$summary), 2)
  expect_null(read_ensemble(file)$trajectories)
  for (bad in list(list(application_id = 7), list(version = 2))) {
    other <- tempfile(fileext = ".sqlite")
    do.call(make_ensemble, c(list(other), bad))
    expect_error(read_ensemble(other), "not an ensemble database|format 2")
  }
})

test_that("ensemble() runs the tool and reads its database", {
  skip_without("ecodyn-ensemble")
  e <- ensemble(bundled("grazing_chain.net"), model = 2, end = 5, print = 1, draws = 3, seed = 1,
                vary = "biomass:PREDATORS=uniform:20%", trajectories = TRUE)
  expect_equal(e$settings$draws, "3")
  expect_equal(nrow(e$outcomes), 3)
  expect_equal(sort(unique(e$trajectories$step)), 0:5)
})
