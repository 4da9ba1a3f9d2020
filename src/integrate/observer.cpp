#include "integrate/observer.h"

#include "fio/fio.h"

namespace ecodyn {

namespace {

Observer* current = nullptr;
int current_cycle = 0;

}  // namespace

void observe(Observer* observer, int cycle) {
  current = observer;
  current_cycle = cycle;
}

void report_row(float t, const Vector& biomass) {
  if (current != nullptr) current->row(current_cycle, t, biomass);
}

void report_extinction(float t, int k) {
  if (current != nullptr) {
    current->extinction(current_cycle, t, k);
  } else {
    write_extinction_notice(t, k);
  }
}

void write_extinction_notice(float t, int k) {
  const char* notice = "(1X,'SPECIES ',I2,' WENT EXTINCT AT T = ',F10.3)";
  fio::write(fio::terminal, notice, k, t);
  fio::write(fio::report, notice, k, t);
}

}  // namespace ecodyn
