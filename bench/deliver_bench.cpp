// quillport_deliver_bench: quillport-deliver on one large message against cp of the same bytes.
//
// Writes a message of M MiB (default 300) as a mail system hands it over (an mbox "From " line,
// LF line ends of 76-character lines), then, in a scratch folder of the same file system:
//   1. cp of the file, then cp with the copy flushed to disk (sync FILE), as the program flushes;
//   2. the delivery (RunDelivery, as quillport-deliver runs it) in a process of its own: wall
//      time, throughput, and how much its resident size grew while it ran.
//
//   quillport_deliver_bench [--mb M]
#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bench/phase_process.h"
#include "common/file_descriptor.h"
#include "deliver/delivery.h"
#include "tests/testing/temp_folder.h"

namespace quillport::bench {
namespace {

namespace fs = std::filesystem;
constexpr double kMiB = 1024.0 * 1024.0;

void WriteMessage(const std::string& path, std::uint64_t bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "From sender@example.org Mon Dec  7 06:00:00 2026\nFrom: Sender <sender@example.org>\n"
         "Subject: large\nMessage-ID: <large@quillport.bench>\n\n";
  const std::string line = std::string(75, 'x') + "\n";
  for (std::uint64_t written = 0; written < bytes; written += line.size()) out << line;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// Wall seconds of a shell command; exits when it fails.
double TimeCommand(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

PhaseResult Delivery(const std::string& message, const std::string& drop) {
  FileDescriptor input(::open(message.c_str(), O_RDONLY | O_CLOEXEC));
  std::ostringstream out, err;
  PhaseMeter meter;
  meter.Start();
  const int status = RunDelivery({"-n", "local.test"}, input.get(), drop, out, err);
  PhaseResult result;
  result.figures = meter.Stop();
  result.completed = status == 0;
  result.note = status == 0 ? "delivered" : "exit status " + std::to_string(status) + ": " + err.str();
  return result;
}

int Run(int mib) {
  testing::TempFolder scratch;
  const std::string message = scratch / "message", drop = scratch / "drop";
  fs::create_directory(drop);
  WriteMessage(message, static_cast<std::uint64_t>(mib) * 1024 * 1024);
  TimeCommand("sync");
  const double mebibytes = static_cast<double>(fs::file_size(message)) / kMiB;
  std::printf("quillport_deliver_bench: a %.1f MiB message in %s\n", mebibytes, scratch.path().c_str());

  const double cp = TimeCommand("cp '" + message + "' '" + scratch / "copy" + "'");
  fs::remove(scratch / "copy");
  const double cp_sync =
      TimeCommand("cp '" + message + "' '" + scratch / "copy" + "' && sync '" + scratch / "copy" + "'");
  fs::remove(scratch / "copy");
  TimeCommand("sync");

  const PhaseResult delivery = RunInChildProcess([&] { return Delivery(message, drop); });
  if (!delivery.completed) {
    std::printf("delivery FAILED: %s\n", delivery.note.c_str());
    return 1;
  }
  const PhaseFigures& f = delivery.figures;
  std::printf("  %-28s %8s %8s\n", "", "s", "MiB/s");
  std::printf("  %-28s %8.2f %8.1f\n", "cp", cp, mebibytes / cp);
  std::printf("  %-28s %8.2f %8.1f\n", "cp, then sync of the copy", cp_sync, mebibytes / cp_sync);
  std::printf("  %-28s %8.2f %8.1f   (CPU %.2f s)\n", "quillport-deliver", f.wall_seconds, mebibytes / f.wall_seconds,
              f.cpu_seconds);
  std::printf("  delivery / cp with sync: %.2fx the time; resident size %ld KiB, grew by %ld KiB\n",
              f.wall_seconds / cp_sync, f.start_rss_kib, f.rss_growth_kib);
  return f.rss_growth_kib < 16 * 1024 ? 0 : 1;
}

}  // namespace
}  // namespace quillport::bench

int main(int argc, char** argv) {
  int mib = 300;
  if (argc == 3 && std::string(argv[1]) == "--mb" && std::atoi(argv[2]) > 0) {
    mib = std::atoi(argv[2]);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--mb M]   (default 300)\n", argv[0]);
    return 2;
  }
  try {
    return quillport::bench::Run(mib);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "deliver bench: %s\n", failure.what());
    return 1;
  }
}
