// The fault campaign: quillport-deliver and the relay engine, with their file and network calls failing at
// random, lose nothing and post nothing twice. Each run hands a small corpus over (some messages through
// quillport-deliver, retried without faults as a mail system retries, the others dropped as files), runs
// Actions under faults against a private INN, then Actions without faults until the folders stay as they are,
// and checks every message of the corpus: on the server exactly once, whole and stripped of its transport
// headers; or one copy in the error folder; or still in the drop folder; and nothing else left anywhere.
//
// The failures come from Debian's libfiu, preloaded through fiu-run, with more_failure_points for the calls it
// does not wrap. Run r uses the seed r; it makes every listed call fail now and then, and two of them often.
// QUILLPORT_FAULT_RUNS sets the number of runs (scripts/fault-campaign.sh); the default keeps to about a minute.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
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
  std::string label;  // names the message in a violation
  std::string token;  // in its subject and body
  bool through_deliver;
  std::string bytes;  // as handed over
  std::string body;   // as the server must hold it
};

// A message whose token stands in its subject and body; every transport header names hidden.example.
Message Compose(std::string label, const std::string& token, bool through_deliver, const std::string& options) {
  const bool with_id = options.find("id") != std::string::npos, refused = options.find("refused") != std::string::npos;
  const std::string end = options.find("lf") != std::string::npos ? "\n" : "\r\n";
  std::string bytes =
      options.find("mbox") != std::string::npos ? "From hidden@hidden.example Tue Dec  1 01:02:03 2026\n" : "";
  bytes += "Received: from hidden.example by relay.example" + end + "\tfor <list@hidden.example>" + end +
           "Return-path: <hidden@hidden.example>" + end + "X-Envelope-To: list@hidden.example" + end +
           "Date: Tue, 1 Dec 2026 01:02:03 +0000" + end + "To: list@hidden.example" + end + "CC: hidden.example" + end +
           "From: Sender <sender@example.org>" + end + "Subject: campaign " + token + end;
  if (options.find("nogroups") == std::string::npos) {
    bytes += std::string("Newsgroups: ") + (refused ? "local.nowhere" : "local.test") + end;
  }
  if (with_id) bytes += "Message-ID: <" + token + "@quillport.test>" + end;
  const std::string body = "Token " + token + "\r\n.leading dot\r\n\r\nlast line\r\n";
  std::string body_as_written = body;
  if (end == "\n") std::erase(body_as_written, '\r');
  return {std::move(label), token, through_deliver, bytes + end + body_as_written, body};
}

std::vector<Message> Corpus(int run) {
  const auto token = [run](char letter) { return "r" + std::to_string(run) + letter + "tok"; };
  return {
      Compose("a (CR LF, Message-ID)", token('a'), false, "id"),
      Compose("b (CR LF, no Message-ID)", token('b'), false, ""),
      Compose("c (LF, Message-ID)", token('c'), false, "lf id"),
      Compose("d (LF, no Message-ID)", token('d'), false, "lf"),
      Compose("e (refused, Message-ID)", token('e'), false, "refused id"),
      Compose("f (refused, no Message-ID)", token('f'), false, "refused"),
      Compose("g (through quillport-deliver: mbox, LF, no Message-ID, no Newsgroups)", token('g'), true,
              "mbox lf nogroups"),
      Compose("h (through quillport-deliver: CR LF, Message-ID)", token('h'), true, "id"),
      Compose("i (through quillport-deliver: refused, LF, no Message-ID)", token('i'), true, "refused lf"),
  };
}

// CR LF, lone CR and lone LF all made CR LF.
std::string CrLf(const std::string& text) { return std::regex_replace(text, std::regex("\r\n|\r|\n"), "\r\n"); }

// Runs a program (killed after two minutes at most) with `input` as its standard input and its output appended
// to `output`; returns its exit status, or 128 and the signal that ended it.
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

// fiu-run's command line that makes the calls of `program` fail as run `run` asks: every call with probability
// 0.03, two of them 0.3.
std::vector<std::string> UnderFaults(int run, std::vector<std::string> program) {
  std::vector<std::string> args = {"fiu-run", "-x", "-f", ""};
  const auto [first, second] = OftenFailing(run);
  for (std::size_t call = 0; call < kCalls.size(); ++call) {
    const char* probability = call == first || call == second ? "0.3" : "0.03";
    for (const std::string& point : kCalls[call].second) {
      args.insert(args.end(), {"-c", "enable_random name=" + point + ",probability=" + probability});
    }
  }
  // fiu-run preloads libfiu's libraries; the library of the further points goes after them (and a sanitizer's
  // runtime before them, where there is one; it is told that libfiu keeps some memory to the end).
  args.insert(args.end(), {"env", "FIU_PRNG_SEED=" + std::to_string(run),
                           "LD_PRELOAD=" QUILLPORT_FIU_PRELOAD " " QUILLPORT_MORE_FAILURE_POINTS,
                           "LSAN_OPTIONS=suppressions=" QUILLPORT_FIU_LEAKS});
  args.insert(args.end(), program.begin(), program.end());
  return args;
}

struct Place {
  std::string name;   // an article number or a file
  std::string bytes;  // CR LF lines
};

// Every article of local.test from number `first` on, unstuffed, CR LF lines; `first` moves past them.
std::vector<Place> ArticlesFrom(const std::string& port, std::int64_t& first) {
  NntpClient client;
  NewsOptions options;
  options.host = "127.0.0.1", options.port = port, options.read_lines = true;
  client.Configure(options);
  if (client.Connect() || client.Command("GROUP local.test")) throw std::runtime_error("no group local.test");
  std::istringstream reply(client.LastReply());
  std::int64_t code = 0, count = 0, low = 0, high = 0;
  reply >> code >> count >> low >> high;
  std::vector<Place> articles;
  for (; first <= high; ++first) {
    if (client.Command("ARTICLE " + std::to_string(first))) continue;
    std::string& article = articles.emplace_back(Place{"article " + std::to_string(first), {}}).bytes;
    for (std::string line; client.Readable() && (line = client.ReceivedText()) != ".\r\n";) {
      article += line.starts_with(".") ? line.substr(1) : line;
    }
  }
  client.Disconnect();
  return articles;
}

// The checks of one run, each failed one a line of `violations`.
class RunCheck {
 public:
  explicit RunCheck(std::string run) : run_(std::move(run)) {}
  void Violation(const std::string& what) { violations_.push_back(run_ + ": " + what); }
  const std::vector<std::string>& violations() const { return violations_; }

  // Sorts the articles and files to the messages whose token they hold; anything of no message is left over.
  void Sort(const std::vector<Message>& corpus, const std::string& where, const std::vector<Place>& places) {
    for (const Place& place : places) {
      const auto owner = std::find_if(corpus.begin(), corpus.end(), [&](const Message& m) {
        return place.bytes.find("Token " + m.token + "\r\n") != std::string::npos;
      });
      if (owner == corpus.end()) {
        Violation("left over in " + where + ": " + place.name);
      } else {
        found_[owner->label][where].push_back(place);
      }
    }
  }

  // Exactly one place: one article, or one file in the error folder, or one in the drop folder; whole, and
  // on the server stripped. A refused message is never on the server.
  void Check(const Message& message) {
    std::map<std::string, std::vector<Place>>& at = found_[message.label];
    std::string where;
    std::size_t copies = 0;
    for (const auto& [place, list] : at) {
      copies += list.size();
      for (const Place& copy : list) {
        where += " " + place + ":" + copy.name;
        const std::size_t end = copy.bytes.find("\r\n\r\n");
        if (end == std::string::npos || copy.bytes.substr(end + 4) != message.body) {
          Violation(message.label + " not whole in " + place + " " + copy.name);
        }
        if (place == "server" && (copy.bytes.substr(0, end).find("hidden.example") != std::string::npos ||
                                  copy.bytes.substr(0, end).find("01:02:03") != std::string::npos)) {
          Violation(message.label + " on the server with a transport header");
        }
      }
    }
    if (copies == 0) Violation(message.label + " lost: neither on the server nor in a folder");
    if (copies > 1) Violation(message.label + " held " + std::to_string(copies) + " times:" + where);
    if (message.label.find("refused") != std::string::npos && at.contains("server")) {
      Violation(message.label + " on the server, though the server refuses it");
    }
  }

 private:
  std::string run_;
  std::map<std::string, std::map<std::string, std::vector<Place>>> found_;
  std::vector<std::string> violations_;
};

// The files of a folder, with their lines made CR LF; every name not of a message is counted as a file too.
std::vector<Place> Files(const fs::path& folder) {
  std::vector<Place> files;
  for (const std::string& name : testing::Names(folder)) {
    if (fs::is_directory(folder / name)) continue;
    files.push_back({name, CrLf(ReadFile(folder / name))});
  }
  return files;
}

class FaultCampaignTest : public ::testing::Test {
 protected:
  // One run: hand the corpus over, Actions under faults, Actions without until nothing changes; then the checks.
  std::vector<std::string> CampaignRun(int run) {
    testing::TempFolder folder;
    const std::string drop = folder / "_M2News", errors = drop + "/Errors", log = folder / "~NNTP.log",
                      output = folder / "output";
    fs::create_directories(errors);
    const std::vector<Message> corpus = Corpus(run);
    const auto [first, second] = OftenFailing(run);
    RunCheck check("run " + std::to_string(run) + " (seed " + std::to_string(run) +
                   ", often failing: " + kCalls[first].first + " and " + kCalls[second].first + ")");
    for (const Message& message : corpus) {
      const std::string input = folder / ("input-" + message.label.substr(0, 1));
      testing::WriteFile(input, message.bytes);
      if (message.through_deliver) {
        Deliver(check, message, run, input, drop, output);
      } else {
        testing::WriteFile(drop + "/" + message.label.substr(0, 1) + ".cnm", message.bytes);
      }
    }
    const std::vector<std::string> relay = {QUILLPORT_RELAY_DRIVER, drop, errors, log, inn_.port_text()};
    std::vector<std::string> faulty = relay;
    faulty.insert(faulty.end(), {"3", "3"});
    const int status = RunProgram(UnderFaults(run, faulty), "/dev/null", output);
    if (status != 0) check.Violation("the relay under faults ended with status " + std::to_string(status));
    Settle(check, relay, drop, errors, output);

    check.Sort(corpus, "server", ArticlesFrom(inn_.port_text(), next_article_));
    check.Sort(corpus, "drop folder", Files(drop));
    check.Sort(corpus, "error folder", Files(errors));
    for (const Message& message : corpus) check.Check(message);
    output_ = ReadFile(output);
    return check.violations();
  }

  // quillport-deliver under faults; what it did not deliver is delivered again without, as the mail system
  // retries. A message it bounces for a failure of the moment is lost to the news.
  static void Deliver(RunCheck& check, const Message& message, int run, const std::string& input,
                      const std::string& drop, const std::string& output) {
    const std::vector<std::string> deliver = {QUILLPORT_DELIVER_INTO, drop, "-n", "local.test"};
    const int status = RunProgram(UnderFaults(run, deliver), input, output);
    if (status == 0) return;
    if (status != 75) {
      check.Violation(message.label + ": quillport-deliver under faults exited " + std::to_string(status));
    }
    if (RunProgram(deliver, input, output) != 0) {
      check.Violation(message.label + ": quillport-deliver without faults failed");
    }
  }

  // Actions without faults until one changes nothing in the folders.
  static void Settle(RunCheck& check, std::vector<std::string> relay, const std::string& drop,
                     const std::string& errors, const std::string& output) {
    relay.insert(relay.end(), {"1", "30"});
    for (int action = 0; action < 6; ++action) {
      const auto before = std::pair(testing::Names(drop), testing::Names(errors));
      if (RunProgram(relay, "/dev/null", output) != 0) check.Violation("the relay without faults failed");
      if (before == std::pair(testing::Names(drop), testing::Names(errors))) return;
    }
    check.Violation("the folders still change after 6 Actions without faults");
  }

  testing::InnServer inn_{{"local.test"}};
  std::int64_t next_article_ = 1;
  std::string output_;  // what the programs of the last run said
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
  std::vector<std::string> unexpected;
  for (int run = first; run <= last; ++run) {
    const std::vector<std::string> violations = CampaignRun(run);
    if (!violations.empty()) std::cout << "run " << run << ", what the programs said:\n" << output_;
    for (const std::string& violation : violations) std::cout << "violation: " << violation << "\n";
    unexpected.insert(unexpected.end(), violations.begin(), violations.end());
  }
  EXPECT_TRUE(unexpected.empty()) << ::testing::PrintToString(unexpected);
}

}  // namespace
}  // namespace quillport
