#include "engine/callgrind_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace pkdv::bench {

namespace {

std::string own_path() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  path[length] = '\0';
  return path;
}

// Runs `arguments` with stdout and stderr appended to `log`; the exit status.
int run_logged(const std::vector<std::string>& arguments, const std::string& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The "totals:" line of a callgrind profile (instructions, the only event).
std::optional<double> profile_total(const std::string& profile) {
  std::ifstream file(profile);
  std::string line;
  std::optional<double> summary;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string label;
    double value = 0;
    if (!(words >> label >> value)) continue;
    if (label == "totals:") return value;
    if (label == "summary:") summary = value;
  }
  return summary;
}

}  // namespace

std::optional<InstructionCount> count_instructions(const std::string& case_name,
                                                   const std::string& savefile,
                                                   const std::string& work_dir) {
  const std::string base = work_dir + "/callgrind." + case_name;
  const std::string profile = base + ".out";
  const std::string frames_file = base + ".frames";
  std::remove(profile.c_str());
  std::remove(frames_file.c_str());
  const int status = run_logged(
      {"valgrind", "--tool=callgrind", "--collect-atstart=no", "--callgrind-out-file=" + profile,
       own_path(), "--single", case_name, "--savefile", savefile, "--frames-file", frames_file},
      base + ".log");
  if (status != 0) {
    std::fprintf(stderr, "callgrind run of %s failed (status %d), see %s.log\n", case_name.c_str(),
                 status, base.c_str());
    return std::nullopt;
  }
  InstructionCount count;
  std::ifstream frames(frames_file);
  const auto total = profile_total(profile);
  if (!(frames >> count.frames) || !total) {
    std::fprintf(stderr, "callgrind run of %s left no result in %s\n", case_name.c_str(),
                 work_dir.c_str());
    return std::nullopt;
  }
  count.total = *total;
  return count;
}

}  // namespace pkdv::bench
