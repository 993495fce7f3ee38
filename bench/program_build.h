// A copy of the real program built for the benchmark: its compiled-in
// folders in the benchmark's scratch folder and its news server the
// benchmark's private INN, whose port is known only once that server runs.
#pragma once

#include <filesystem>
#include <string>

namespace quillport::bench {

struct ProgramSettings {
  std::filesystem::path drop_folder;
  std::filesystem::path error_folder;
  std::filesystem::path log_file;
  std::string server_host;
  int server_port = 0;
};

// Configures and builds the target `quillport` in `build_dir` with the
// compiler, generator and build type of the benchmark's own build and with
// `settings` compiled in. The folder is kept between runs, so a later run
// recompiles only what the settings reach. The build's output goes to
// `log`. Returns the program's path; throws std::runtime_error with the
// end of the log when the build fails or takes more than ten minutes.
std::filesystem::path BuildProgram(const std::filesystem::path& build_dir, const ProgramSettings& settings,
                                   const std::filesystem::path& log);

}  // namespace quillport::bench
