#include "bench/program_build.h"

#include <chrono>
#include <fstream>
#include <stdexcept>

#include "bench/child_process.h"

namespace quillport::bench {
namespace {

namespace fs = std::filesystem;

constexpr std::chrono::seconds kBuildLimit{600};

void Run(std::vector<std::string> argv, const fs::path& log, const std::string& step) {
  const fs::path step_log = log.string() + ".step";
  const std::optional<int> code = RunToEnd({std::move(argv), {}, step_log}, kBuildLimit);
  {
    std::ofstream all(log, std::ios::app);
    all << std::ifstream(step_log).rdbuf();
  }
  const std::string tail = Tail(step_log, 30);
  fs::remove(step_log);
  if (!code) throw std::runtime_error(step + " took more than " + std::to_string(kBuildLimit.count()) + " s");
  if (*code != 0) throw std::runtime_error(step + " failed (exit code " + std::to_string(*code) + "):\n" + tail);
}

}  // namespace

fs::path BuildProgram(const fs::path& build_dir, const ProgramSettings& settings, const fs::path& log) {
  fs::remove(log);
  Run({QUILLPORT_CMAKE_COMMAND, "-S", QUILLPORT_SOURCE_DIR, "-B", build_dir.string(), "-G", QUILLPORT_CMAKE_GENERATOR,
       std::string("-DCMAKE_CXX_COMPILER=") + QUILLPORT_CXX_COMPILER,
       std::string("-DCMAKE_BUILD_TYPE=") + QUILLPORT_BUILD_TYPE, "-DQUILLPORT_BUILD_TESTS=OFF",
       "-DQUILLPORT_BUILD_BENCH=OFF", "-DQUILLPORT_DROP_FOLDER=" + settings.drop_folder.string(),
       "-DQUILLPORT_ERROR_FOLDER=" + settings.error_folder.string(),
       "-DQUILLPORT_LOG_FILE=" + settings.log_file.string(), "-DQUILLPORT_SERVER_HOST=" + settings.server_host,
       "-DQUILLPORT_SERVER_PORT=" + std::to_string(settings.server_port)},
      log, "configuring the program's build");
  Run({QUILLPORT_CMAKE_COMMAND, "--build", build_dir.string(), "--target", "quillport", "--parallel", "2"}, log,
      "building the program");
  fs::path program = build_dir / "app" / "quillport";
  if (!fs::is_regular_file(program)) throw std::runtime_error("the build made no " + program.string());
  return program;
}

}  // namespace quillport::bench
