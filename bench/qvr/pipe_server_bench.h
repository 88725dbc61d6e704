#pragma once
// The in-process stand-in server of the pipe benchmarks: a product tree in a temporary folder
// of its own, the runtime's shared names and registry moved into that folder, and the pipe
// front answering. The folder goes when the bench ends.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "qvr/link/link.h"
#include "server/dispatcher.h"
#include "server/pipe_front.h"
#include "server/product_tree.h"
#include "server/request_handlers.h"

namespace bench_qvr {

class BenchFolder {
  public:
    // `name` names the folder under /tmp; `ipc_tag` keeps the shared names apart from other runs.
    BenchFolder(const std::string& name, const std::string& ipc_tag) : path_("/tmp/" + name + ".XXXXXX") {
        if (mkdtemp(path_.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        const std::string prefix = ipc_tag + std::to_string(getpid()) + ".";
        setenv("QUORVANE_IPC_PREFIX", prefix.c_str(), 1);
        setenv("QUORVANE_RUNTIME_DIR", (path_ + "/run").c_str(), 1);
        setenv("BREVANTIC_REGISTRY_DIR", path_.c_str(), 1);
    }
    ~BenchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

struct PipeServerBench {
    PipeServerBench(const std::string& name, const std::string& ipc_tag)
        : folder(name, ipc_tag), tree(folder.path() + "/product"), front(dispatcher) {
        sim_server::add_core_handlers(dispatcher);
        sim_server::add_request_handlers(dispatcher, tables, tree);
    }
    ~PipeServerBench() {
        link_CloseAll();
        front.stop();
    }
    PipeServerBench(const PipeServerBench&) = delete;
    PipeServerBench& operator=(const PipeServerBench&) = delete;

    // First, so that the environment is set before anything reads it, and the folder goes last.
    BenchFolder folder;
    sim_server::ProductTree tree;
    sim_server::RequestTables tables;
    sim_server::Dispatcher dispatcher;
    sim_server::PipeFront front;
};

}  // namespace bench_qvr
