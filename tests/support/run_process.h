#pragma once
// Runs a program with arguments (exact bytes, no shell), feeding stdin from a text and capturing
// standard output, standard error and the exit status.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fixture.h"

namespace quelvane::testing {

struct ProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = "") {
  char tmpl[] = "/tmp/quelvane-proc-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string in_path = dir + "/in", out_path = dir + "/out", err_path = dir + "/err";
  std::ofstream(in_path, std::ios::binary) << input;
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ProcessResult result;
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  unlink(in_path.c_str());
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  rmdir(dir.c_str());
  return result;
}

}  // namespace quelvane::testing
