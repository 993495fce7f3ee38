// The fault campaign: quillport-deliver and the relay engine, their calls failing at random under libfiu, lose
// nothing and post nothing twice. Run r uses the seed r; QUILLPORT_FAULT_RUNS sets the runs.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>
#include <utility>

#include "news/nntp_client.h"
#include "tests/testing/inn_server.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

// libfiu's failure points for each call made to fail.
const std::vector<std::pair<std::string, std::vector<std::string>>> kCalls = {
    {"open", {"posix/io/oc/open"}},
    {"read", {"posix/io/rw/read", "posix/io/rw/pread"}},
    {"write", {"posix/io/rw/write", "posix/io/rw/pwrite"}},
    {"fsync", {"posix/io/sync/fsync", "posix/io/sync/fdatasync"}},
    {"rename", {"posix/io/dir/rename"}},
    {"unlink", {"posix/io/dir/unlink"}},
    {"connect", {"posix/io/net/connect"}},
    {"send", {"posix/io/net/send", "posix/io/net/sendmsg"}},
    {"recv", {"posix/io/net/recv", "posix/io/net/recvmsg"}},
};

struct Message {
  std::string label, token;  // the label names it in a violation; the token stands in its subject and body
  std::string bytes, body;   // as handed over; the body as the server must hold it
  bool through_deliver, refused;
};

// The corpus of run `run`: a letter, whether quillport-deliver takes it, and its form, a message a row.
std::vector<Message> Corpus(int run) {
  const std::vector<std::tuple<char, bool, std::string>> rows = {
      {'a', false, "id"},         {'b', false, "plain"},   {'c', false, "lf id"},           {'d', false, "lf"},
      {'e', false, "refused id"}, {'f', false, "refused"}, {'g', true, "mbox lf nogroups"}, {'h', true, "id"},
      {'i', true, "refused lf"}};
  std::vector<Message> corpus;
  for (const auto& [letter, through_deliver, form] : rows) {
    const auto has = [shape = std::string_view(form)](const char* option) { return shape.find(option) != shape.npos; };
    const std::string token = "r" + std::to_string(run) + letter + "tok";
    std::string head =
        "Received: from hidden.example\r\n\tfor <list@hidden.example>\r\nDate: Tue, 1 Dec 2026 01:02:03 +0000\r\n"
        "To: list@hidden.example\r\nFrom: Sender <sender@example.org>\r\nSubject: campaign " +
        token + "\r\n";
    if (!has("nogroups")) head += has("refused") ? "Newsgroups: local.nowhere\r\n" : "Newsgroups: local.test\r\n";
    if (has("id")) head += "Message-ID: <" + token + "@quillport.test>\r\n";
    const std::string body = "Token " + token + "\r\n.leading dot\r\n\r\nlast line\r\n";
    std::string bytes = head + "\r\n" + body;
    if (has("lf")) std::erase(bytes, '\r');
    if (has("mbox")) bytes.insert(0, "From hidden@hidden.example Tue Dec  1 01:02:03 2026\n");
    const std::string label = std::string(1, letter) + (through_deliver ? " (quillport-deliver: " : " (") + form + ")";
    corpus.push_back({label, token, bytes, body, through_deliver, has("refused")});
  }
  return corpus;
}

// Runs a program (killed after two minutes) on `input`, its output appended to `output`; returns its status.
int RunProgram(const std::vector<std::string>& args, const std::string& input, const std::string& output) {
  std::string command = "timeout -k 5 120";
  for (const std::string& arg : args) command += " '" + arg + "'";
  const int status = std::system((command + " <'" + input + "' >>'" + output + "' 2>&1").c_str());
  if (status == -1 || !WIFEXITED(status)) throw std::runtime_error("cannot run " + command);
  return WEXITSTATUS(status);
}

// The two calls run `run` makes fail often: each call with each other one, in turn.
std::pair<std::size_t, std::size_t> OftenFailing(int run) {
  const std::size_t count = kCalls.size(), first = static_cast<std::size_t>(run) % count;
  return {first, (first + 1 + static_cast<std::size_t>(run) / count % (count - 1)) % count};
}

// fiu-run's command line for `program` in run `run`: every call fails with probability 0.03, two of them 0.3.
std::vector<std::string> UnderFaults(int run, const std::vector<std::string>& program) {
  std::vector<std::string> args = {"fiu-run", "-x", "-f", ""};
  const auto [first, second] = OftenFailing(run);
  for (std::size_t call = 0; call < kCalls.size(); ++call) {
    const char* probability = call == first || call == second ? "0.3" : "0.03";
    for (const std::string& point : kCalls[call].second) {
      args.insert(args.end(), {"-c", "enable_random name=" + point + ",probability=" + probability});
    }
  }
  // The further points' library goes after libfiu's (a sanitizer's runtime before them).
  args.insert(args.end(), {"env", "FIU_PRNG_SEED=" + std::to_string(run),
                           "LD_PRELOAD=" QUILLPORT_FIU_PRELOAD " " QUILLPORT_MORE_FAILURE_POINTS,
                           "LSAN_OPTIONS=suppressions=" QUILLPORT_FIU_LEAKS});
  args.insert(args.end(), program.begin(), program.end());
  return args;
}

struct Place {
  std::string where, name;  // the server and an article number, or a folder and a file
  std::string bytes;        // CR LF lines
};

// Every article of local.test from number `first` on, unstuffed; `first` moves past them.
void AddArticles(const std::string& port, std::int64_t& first, std::vector<Place>& places) {
  NntpClient client;
  NewsOptions options;
  options.host = "127.0.0.1", options.port = port, options.read_lines = true;
  client.Configure(options);
  if (client.Connect() || client.Command("GROUP local.test")) throw std::runtime_error("no group local.test");
  std::int64_t code = 0, count = 0, low = 0, high = 0;
  std::istringstream(client.LastReply()) >> code >> count >> low >> high;
  for (; first <= high; ++first) {
    if (client.Command("ARTICLE " + std::to_string(first))) continue;
    std::string& article = places.emplace_back(Place{"server", "article " + std::to_string(first), {}}).bytes;
    for (std::string line; client.Readable() && (line = client.ReceivedText()) != ".\r\n";) {
      article += line.starts_with(".") ? line.substr(1) : line;
    }
  }
  client.Disconnect();
}

// The files of a folder with their lines made CR LF; a file of no message counts too.
void AddFiles(const fs::path& folder, const std::string& where, std::vector<Place>& places) {
  for (const std::string& name : testing::Names(folder)) {
    if (fs::is_directory(folder / name)) continue;
    places.push_back({where, name, std::regex_replace(ReadFile(folder / name), std::regex("\r\n|\r|\n"), "\r\n")});
  }
}

class FaultCampaignTest : public ::testing::Test {
 protected:
  // One run: the corpus handed over (again without faults where refused, as a mail system retries), Actions under
  // faults, Actions without until nothing changes; then the checks.
  void CampaignRun(int run) {
    testing::TempFolder folder;
    const std::string drop = folder / "_M2News", errors = drop + "/Errors", output = folder / "output";
    fs::create_directories(errors);
    violations_.clear();
    const auto violation = [this](const std::string& what, int status) {
      if (status != 0) violations_.push_back(what + std::to_string(status));
    };
    const std::vector<Message> corpus = Corpus(run);
    for (const Message& message : corpus) {
      const std::string input = folder / ("input-" + message.label.substr(0, 1));
      testing::WriteFile(message.through_deliver ? input : drop + "/" + message.label[0] + ".cnm", message.bytes);
      if (!message.through_deliver) continue;
      const std::vector<std::string> deliver = {QUILLPORT_DELIVER_INTO, drop, "-n", "local.test"};
      const int status = RunProgram(UnderFaults(run, deliver), input, output);
      violation(message.label + ": quillport-deliver under faults exited ", status == 75 ? 0 : status);
      if (status != 0)
        violation(message.label + ": quillport-deliver without faults exited ", RunProgram(deliver, input, output));
    }
    std::vector<std::string> relay = {QUILLPORT_RELAY_DRIVER, drop, errors, folder / "~NNTP.log", inn_.port_text()};
    std::vector<std::string> faulty = relay;
    faulty.insert(faulty.end(), {"3", "3"});
    violation("the relay under faults ended with status ", RunProgram(UnderFaults(run, faulty), "/dev/null", output));
    relay.insert(relay.end(), {"1", "30"});
    for (int action = 0; action < 6; ++action) {  // until an Action changes nothing in the folders
      const auto before = std::pair(testing::Names(drop), testing::Names(errors));
      violation("the relay without faults ended with status ", RunProgram(relay, "/dev/null", output));
      if (before == std::pair(testing::Names(drop), testing::Names(errors))) break;
      if (action == 5) violations_.push_back("the folders still change after 6 Actions without faults");
    }

    std::vector<Place> places;
    AddArticles(inn_.port_text(), next_article_, places);
    AddFiles(drop, "drop folder", places);
    AddFiles(errors, "error folder", places);
    Check(corpus, places);
    const auto [first, second] = OftenFailing(run);
    EXPECT_TRUE(violations_.empty()) << "run " << run << " (seed " << run << ", often failing: " << kCalls[first].first
                                     << " and " << kCalls[second].first
                                     << "): " << ::testing::PrintToString(violations_) << "\nwhat the programs said:\n"
                                     << ReadFile(output);
  }

  // Every message in exactly one place, whole; on the server only when taken, without transport headers.
  void Check(const std::vector<Message>& corpus, const std::vector<Place>& places) {
    std::map<std::string, std::vector<const Place*>> found;  // by label
    for (const Place& place : places) {
      const auto owner = std::ranges::find_if(
          corpus, [&](const Message& m) { return place.bytes.find("Token " + m.token + "\r\n") != std::string::npos; });
      if (owner == corpus.end()) {
        violations_.push_back("left over in " + place.where + ": " + place.name);
      } else {
        found[owner->label].push_back(&place);
      }
    }
    for (const Message& message : corpus) {
      std::string where;
      for (const Place* copy : found[message.label]) {
        where += " " + copy->where + ": " + copy->name + ";";
        const std::size_t end = copy->bytes.find("\r\n\r\n");
        const std::string head = copy->bytes.substr(0, end);
        if (end == std::string::npos || copy->bytes.substr(end + 4) != message.body) {
          violations_.push_back(message.label + " not whole in " + copy->where + ": " + copy->name);
        }
        if (copy->where == "server" && (message.refused || head.find("hidden.example") != std::string::npos ||
                                        head.find("01:02:03") != std::string::npos)) {
          violations_.push_back(message.label + " on the server, refused or with a transport header");
        }
      }
      if (found[message.label].size() != 1) {
        violations_.push_back(message.label + " held " + std::to_string(found[message.label].size()) +
                              " times:" + where);
      }
    }
  }

  testing::InnServer inn_{{"local.test"}};
  std::int64_t next_article_ = 1;
  std::vector<std::string> violations_;  // of the run under way
};

#ifdef __SANITIZE_ADDRESS__
constexpr int kRuns = 27;  // AddressSanitizer makes each run about twice as slow
#else
constexpr int kRuns = 54;  // six runs for each call made to fail often
#endif

// Every run, whatever failed in it, leaves every message in one place, whole.
TEST_F(FaultCampaignTest, NothingLostNothingTwiceWhateverFails) {
  // QUILLPORT_FAULT_RUNS: N for the runs 1 to N, or FIRST-LAST.
  const char* runs = std::getenv("QUILLPORT_FAULT_RUNS");
  int first = 1, last = kRuns;
  if (runs != nullptr && std::sscanf(runs, "%d-%d", &first, &last) == 1) last = std::exchange(first, 1);
  for (int run = first; run <= last; ++run) CampaignRun(run);
}

}  // namespace
}  // namespace quillport
