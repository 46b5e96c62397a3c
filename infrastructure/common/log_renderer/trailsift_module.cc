// The Python module `trailsift`: IndexRet and IndexWorker, plus test-only helpers in
// trailsift._testing. The module never releases the interpreter lock.

#include <pybind11/pybind11.h>

#include <functional>
#include <string>

#include "infrastructure/common/log_renderer/trailsift.h"

namespace py = pybind11;
using kyv::infra::log::IndexRet;
using kyv::infra::log::IndexWorker;

PYBIND11_MODULE(trailsift, m) {
  m.doc() = "Indexes binary protobuf log files into the local search index through /_bulk.";
  IndexWorker::LoadModule();

  py::class_<IndexRet>(m, "IndexRet", "What the runs of an IndexWorker did.")
      .def_readonly("max_ts", &IndexRet::max_ts)
      .def_readonly("min_ts", &IndexRet::min_ts)
      .def_readonly("total", &IndexRet::total)
      .def_readonly("exception", &IndexRet::exception)
      .def_readonly("read_pos", &IndexRet::read_pos);

  py::class_<IndexWorker>(m, "IndexWorker", "Indexes a stretch of one log file.")
      .def(py::init<std::string, uint32_t, std::string, std::string, uint32_t>(),
           py::arg("file_name"), py::arg("file_pos"), py::arg("index_name"),
           py::arg("doc_type"), py::arg("limit"))
      .def("run", &IndexWorker::run, "Indexes from file_pos on; returns the accumulated result.")
      .def_static("create_ipg", &IndexWorker::create_ipg,
                  "Rebuilds the IP address group table from its file.");

  // Helpers for the test suite; not part of the module's interface.
  py::module_ testing = m.def_submodule("_testing", "Test-only helpers.");
  testing.def(
      "std_hash", [](py::bytes data) { return std::hash<std::string>{}(std::string(data)); },
      "The standard library's string hash of the bytes (the event document id's lower half).");
  testing.def(
      "fail_render_at",
      [](uint32_t file_pos, bool bad_alloc) {
        IndexWorker::shared().render_fault = {true, file_pos, bad_alloc};
      },
      py::arg("file_pos"), py::arg("bad_alloc") = false,
      "Makes rendering the record at file_pos throw (std::bad_alloc or std::runtime_error).");
  testing.def(
      "clear_render_fault", [] { IndexWorker::shared().render_fault = {}; },
      "Removes the fault set by fail_render_at.");
}
