// rassvc's pipe, \\.\pipe\rassvc: one thread accepts, every client gets a
// thread of its own, so a dial-in that waits on the extension never holds up
// a traffic query or a port listing.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/pipe.h"
#include "platform/ras/ras_service.h"

namespace plat::ras {

class RasPipeServer {
 public:
  explicit RasPipeServer(RasService& service);
  ~RasPipeServer();
  RasPipeServer(const RasPipeServer&) = delete;
  RasPipeServer& operator=(const RasPipeServer&) = delete;

  // Creates the pipe and starts accepting. ERROR_PIPE_BUSY when another
  // rassvc serves this machine.
  DWORD Start();
  // Stops accepting and waits for the requests in progress.
  void Stop();

  // Answers one request (see rassvc_protocol.h). Work that must follow the
  // reply (the hang-up after a disconnect request) goes to *afterReply.
  std::string Handle(std::string_view request, std::function<void()>* afterReply);

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop(std::stop_token stop);
  void Serve(PipeConnection connection);
  // Joins the workers that have finished.
  void Reap();
  // Holds an administration call while a STALL lasts (or until Stop).
  void WaitWhileStalled() const;

  RasService& service_;
  NamedPipeServer pipe_;
  std::jthread acceptor_;
  std::mutex workersMutex_;  // guards workers_
  std::list<Worker> workers_;
  std::atomic<std::chrono::steady_clock::time_point> stallUntil_{};
  std::atomic<bool> stopping_{false};
};

}  // namespace plat::ras
