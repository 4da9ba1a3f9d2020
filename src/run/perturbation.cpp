#include "run/perturbation.h"

#include "fio/fio.h"
#include "model/konsts.h"

namespace ecodyn {

namespace {

using Answer = std::array<char, 4>;
constexpr Answer yes{'Y', ' ', ' ', ' '};
constexpr Answer syes{'y', ' ', ' ', ' '};

bool in_range(int k) { return k >= 1 && k <= konsts.ncomp; }

// Asks for a kind until one from 1 to 5 is given (the menu only once).
int ask_kind() {
  fio::write(fio::terminal,
             "(1X,'WHICH KIND?',/,4X,'1. BIOMASS',/,4X,'2. INPUT',/,4X,'3. EXPORT',/,4X,"
             "'4. RESPIRATION',/,4X,'5. INTERNAL EXCHANGE')");
  int kind = 0;
  for (;;) {
    if (!fio::ask("which kind", kind)) continue;
    if (kind >= 1 && kind <= 5) return kind;
    fio::write(fio::terminal, "(1X,'ONLY VALUES 1 TO 5 ALLOWED. TRY AGAIN.')");
  }
}

// One perturbation after a yes: kind, compartment(s), value and log line.
// A refused compartment or value just returns to the question.
void perturb_one(Network& net) {
  const int kind = ask_kind();
  int i = 0, j = 0;
  if (kind <= 4) {
    do fio::write(fio::terminal, "(1X,'WHICH COMPARTMENT?')");
    while (!fio::ask("which compartment", i));
  } else {
    do fio::write(fio::terminal, "(1X,'GIVE ORIGIN AND TERMINAL NODES ON NEXT LINE.')");
    while (!fio::ask("origin and terminal nodes", i, j));
  }
  if (!in_range(i) || (kind == 5 && !in_range(j))) {
    fio::write(fio::terminal, "(1X,'COMPONENT DESIGNATION OUT OF BOUNDS. TRY AGAIN.')");
    return;
  }

  float* value = nullptr;
  switch (kind) {
    case 1: value = &net.biomass(i); break;  // the starting state; bref is untouched
    case 2: value = &konsts.inputs(i); break;
    case 3: value = &konsts.cexp(i); break;
    case 4: value = &konsts.cresp(i); break;
    default: value = &konsts.cexch(i, j); break;
  }
  float new_value = *value;  // a null answer keeps the old value
  do fio::write(fio::terminal, "(1X,'OLD VALUE = ',E10.4,/,1X,'NEW VALUE?')", *value);
  while (!fio::ask("new value", new_value));
  if (new_value < 0.0f) {
    fio::write(fio::terminal, "(1X,'NEGATIVE VALUES NOT ALLOWED. TRY AGAIN.')");
    return;
  }
  *value = new_value;
  switch (kind) {
    case 1: fio::write(fio::report, "(1X,'BIOMASS IN ',I2,' = ',E10.4)", i, *value); break;
    case 2: fio::write(fio::report, "(1X,'INPUT TO ',I2,' = ',E10.4)", i, *value); break;
    case 3: fio::write(fio::report, "(1X,'EXPORT COEFF. FROM ',I2,' = ',E10.4)", i, *value); break;
    case 4:
      fio::write(fio::report, "(1X,'RESPIRATION COEFF. FROM ',I2,' = ',E10.4)", i, *value);
      break;
    default:
      fio::write(fio::report, "(1X,'COEFF FOR FLOW FROM ',I2,' TO ',I2,' = ',E10.4)", i, j,
                 *value);
      break;
  }
}

}  // namespace

void perturb(Network& net) {
  fio::write(fio::report, "(1X,'THE FOLLOWING COEFFICIENTS HAVE BEEN CHANGED:',/)");
  for (;;) {
    fio::write(fio::terminal, "(1X,'DO YOU WISH TO PERTURB A PARAMETER? (Y/N)')");
    Answer answer{' ', ' ', ' ', ' '};
    fio::ask_first_character("do you wish to perturb a parameter (Y/N)", answer);
    if (answer != yes && answer != syes) return;  // N, n, blank or anything else
    perturb_one(net);
  }
}

}  // namespace ecodyn
