// The formatted-record layer: every record the program reads or writes goes
// through here, in the edit-descriptor notation of the f2c run-time.
//
//   fio::write(fio::report, "(1X,'BIOMASS IN ',I2,' = ',E10.4)", k, value);
//   if (fio::read(fio::network_file, "(I3,3E14.7)", i, a, b, c) == fio::end) ...
//   fio::ask("model type", model_type);
//
// Items are int, float, fixed character fields (std::array<char, N>, or a
// ConstChars view), and contiguous runs of ints, floats or character fields
// (std::span). A write that fails ends the run with status 2 after a
// diagnostic naming the file; a read returns ok, end or error and leaves the
// reaction to the caller. Every way the run ends goes through fio::run: an
// error stop throws fio::Stop, which run catches before it writes out and
// closes every unit.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>

namespace fio {

// Logical units, numbered as the run-time numbers them.
enum Unit : int {
  terminal_in = 5,
  terminal = 6,
  network_file = 7,
  report = 8,
  snapshot_file = 18,
};

enum Code : int { ok = 0, end = -1, error = 1 };

// The outcome of a read: ok, end (end of file before the record) or error,
// with the reason of an error (the run-time's error number, or errno).
struct Status {
  Code code = ok;
  int reason = 0;
  friend bool operator==(Status s, Code c) { return s.code == c; }
};

// Thrown to end the run with an exit status; caught by fio::run only.
struct Stop {
  int status;
};

// Exit statuses of the program.
inline constexpr int exit_normal = 0;
inline constexpr int exit_error_stop = 1;
inline constexpr int exit_bad_io = 2;

// A character field of fixed length, for writing.
struct ConstChars {
  const char* data;
  int length;
};

namespace detail {

// One item of a record, as the run-time sees it.
struct Item {
  enum Kind { integer, real, character } kind;
  char* data;
  int count;   // number of elements
  int length;  // bytes per element
};

inline Item item(int& v) { return {Item::integer, reinterpret_cast<char*>(&v), 1, 4}; }
inline Item item(float& v) { return {Item::real, reinterpret_cast<char*>(&v), 1, 4}; }
inline Item item(const int& v) { return item(const_cast<int&>(v)); }
inline Item item(const float& v) { return item(const_cast<float&>(v)); }
inline Item item(std::span<int> v) {
  return {Item::integer, reinterpret_cast<char*>(v.data()), static_cast<int>(v.size()), 4};
}
inline Item item(std::span<const int> v) {
  return {Item::integer, reinterpret_cast<char*>(const_cast<int*>(v.data())),
          static_cast<int>(v.size()), 4};
}
inline Item item(std::span<float> v) {
  return {Item::real, reinterpret_cast<char*>(v.data()), static_cast<int>(v.size()), 4};
}
inline Item item(std::span<const float> v) {
  return {Item::real, reinterpret_cast<char*>(const_cast<float*>(v.data())),
          static_cast<int>(v.size()), 4};
}
inline Item item(ConstChars c) {
  return {Item::character, const_cast<char*>(c.data), 1, c.length};
}
// A run of character fields of the same length (the words of a name).
template <std::size_t N>
Item item(std::span<std::array<char, N>> c) {
  static_assert(sizeof(std::array<char, N>) == N);
  return {Item::character, c.data()->data(), static_cast<int>(c.size()), static_cast<int>(N)};
}
template <std::size_t N>
Item item(std::span<const std::array<char, N>> c) {
  return item(std::span<std::array<char, N>>(const_cast<std::array<char, N>*>(c.data()), c.size()));
}
template <std::size_t N>
Item item(std::array<char, N>& c) {
  return {Item::character, c.data(), 1, static_cast<int>(N)};
}
template <std::size_t N>
Item item(const std::array<char, N>& c) {
  return {Item::character, const_cast<char*>(c.data()), 1, static_cast<int>(N)};
}

void write_items(Unit unit, const char* format, const Item* items, int n);
Status read_items(Unit unit, const char* format, const Item* items, int n);
bool ask_items(const char* question, const Item* items, int n);

}  // namespace detail

// Writes one formatted record (or several, where the format has "/").
template <class... A>
void write(Unit unit, const char* format, const A&... args) {
  const detail::Item items[sizeof...(A) + 1] = {detail::item(args)...};
  detail::write_items(unit, format, items, static_cast<int>(sizeof...(A)));
}

// Reads one formatted record. Returns ok, end (end of file before the
// record) or error (a field that cannot be read); bad_record() reports it.
template <class... A>
Status read(Unit unit, const char* format, A&&... args) {
  const detail::Item items[sizeof...(A) + 1] = {detail::item(args)...};
  return detail::read_items(unit, format, items, static_cast<int>(sizeof...(A)));
}

// Reads one list-directed answer from the terminal into the given values:
// the lines it takes (blank lines pass over) are read whole, and the rest of
// the last one is not used. At the end of the terminal input the program
// ends with status 2 and a diagnostic that names the question. An answer
// that cannot be read as the values asked for, or whose line holds more
// values than those, is a typing mistake when the answers are typed at a
// terminal: it is explained on the terminal, the values are left as they
// were, and ask returns false, so that the caller asks the question again.
// Answers from a file or a pipe are read as always: an unreadable one ends
// the program with status 2; one holding more values is taken with a
// warning on standard error ("0,74" to one number is 0 and 74).
template <class... A>
[[nodiscard]] bool ask(const char* question, A&&... args) {
  const detail::Item items[sizeof...(A) + 1] = {detail::item(args)...};
  return detail::ask_items(question, items, static_cast<int>(sizeof...(A)));
}

// Reads the first character of one terminal line, with format "(A1)", into
// a four-character word (the character and three blanks); ends the program
// like ask() when the terminal input has ended.
void ask_first_character(const char* question, std::array<char, 4>& answer);

// Returns the number of records read so far from the unit (the line number
// of the last record read).
int records_read(Unit unit);

// Holds records (on) or writes them again (off): while held, the records
// for the terminal, the report and the snapshot file are not written (a
// program running the model in its process); the terminal's are formatted
// and kept, for the message of an error stop. Each call forgets what was
// kept.
void hold_records(bool on);

// Returns the terminal records kept while held, a line each ('\n' after
// each), blanks at the end of a line removed.
const std::string& held_terminal();

// Returns the file name a unit is connected to ("fort.7" by default).
const char* file_name(Unit unit);

// Connects a unit to a named file: an existing one for reading
// (must_exist), otherwise one created or emptied for writing. Returns false,
// with errno set, when the file cannot be opened. A file read is read line
// by line as the records come; it is never written.
bool connect(Unit unit, const char* path, bool must_exist);

// Names a unit's file in diagnostics in place of the path it was connected
// to (a program that reads a copy names the file the copy was made of).
void set_file_name(Unit unit, const char* name);

// Writes out and closes a unit; returns false if any of its records could
// not be written.
bool close(Unit unit);

// Writes an error message to the terminal and ends the run with
// exit_error_stop.
template <class... A>
[[noreturn]] void error_stop(const char* format, const A&... args) {
  write(terminal, format, args...);
  throw Stop{exit_error_stop};
}

// Ends the run with exit_bad_io after a diagnostic on standard error for a
// record of the unit that a read could not take (status end or error),
// naming the file, the line and the record expected ("name record").
[[noreturn]] void bad_record(Unit unit, Status status, const char* record);

// Sets the program name used in diagnostics ("ecodyn").
void set_program_name(const char* name);

// Returns the program name used in diagnostics.
const char* program_name();

// Registers the one function called when a run ends with a status other
// than 0 or by a signal, after every unit has been written out (a companion
// program removes its unfinished output there).
void at_stop(void (*cleanup)());

// Acts on an interrupt or termination signal that has arrived: writes out
// every unit, runs the cleanup and ends the process by that signal. Does
// nothing otherwise. The layer calls it between records and when a read of
// the terminal is cut short.
void check_signal();

// Prepares the run-time: standard input, output and error are made to exist
// (a closed one reads as ended, or fails every write), so that no file can
// be connected in their place; an interrupt or termination signal leaves
// every file with each record written before it, exactly once; a terminal
// that goes away, or a file grown beyond the size limit, makes writes fail
// instead of killing the program.
void start();

// Checks and closes every unit; returns status, or exit_bad_io when a unit
// could not be written. Runs the cleanup for a status other than 0.
int finish(int status);

// Runs a whole program: start(), then body (which returns the exit status),
// then finish(). An error stop thrown on the way gives its status.
template <class Body>
int run(Body&& body) {
  start();
  int status = exit_normal;
  try {
    status = body();
  } catch (const Stop& stop) {
    status = stop.status;
  }
  return finish(status);
}

// Fault injection for tests: the n-th write (or read) from now on fails as
// if the device were full (or unreadable); 0 switches it off. Counted over
// every unit; start() does not reset it.
void fail_nth_write(int n);
void fail_nth_read(int n);

}  // namespace fio
