// The soak through the built plug-in, at sizes from a handshake-sized run
// to a few tens of thousands of operations: the plug-in agrees with the
// model, keeps its memory flat with a flat cache, releases every response
// record, and after Shutdown holds the same constant whatever work ran.
#include <gtest/gtest.h>

#include <string>

#include "vaq_host/plugin_library.h"
#include "vaq_host/soak.h"

namespace {

using vaq_host::SoakOptions;
using vaq_host::SoakReport;

struct Workload {
  const char* name;
  uint32_t summoners;
  uint64_t operations;
  uint32_t checkpoints;
};

const Workload kWorkloads[] = {
    {"no mixed operation", 4, 0, 1},
    {"small", 200, 4000, 2},
    {"larger", 2000, 40000, 4},
};

TEST(SoakTest, EveryWorkloadAgreesWithTheModelAndEndsAtTheConstant) {
  // The library stays mapped from one workload to the next, so that the
  // later ones run on a library that served a plug-in and shut it down.
  vaq_host::PluginLibrary mapped;
  std::string error;
  ASSERT_TRUE(mapped.Open(VAQ_PLUGIN_PATH, &error)) << error;

  for (const Workload& workload : kWorkloads) {
    SCOPED_TRACE(workload.name);
    SoakOptions options;
    options.pluginPath = VAQ_PLUGIN_PATH;
    options.summoners = workload.summoners;
    options.operations = workload.operations;
    options.checkpoints = workload.checkpoints;
    options.seed = 20261210;
    const SoakReport report = vaq_host::RunSoak(options, {});

    EXPECT_TRUE(report.ok) << report.failure;
    EXPECT_EQ(report.operationsDone, workload.operations);
    ASSERT_EQ(report.checkpoints.size(), workload.checkpoints + 1u);
    for (const auto& checkpoint : report.checkpoints) {
      EXPECT_EQ(checkpoint.cacheEntries, workload.summoners + 2u);
      EXPECT_EQ(checkpoint.liveBlocks, report.checkpoints.front().liveBlocks) << "after " << checkpoint.operation;
    }

    EXPECT_GT(report.responses.given, 0u);
    EXPECT_EQ(report.responses.releasedByPlugin, report.responses.given);
    EXPECT_EQ(report.responses.received, report.endpointCalls);
    EXPECT_EQ(report.responses.releasedByHost, report.responses.received);

    ASSERT_TRUE(report.shutDown);
    EXPECT_EQ(report.liveBytesAfterShutdown, vaq_host::kLiveBytesAfterShutdown);
    EXPECT_EQ(report.afterShutdown.allocationCount, report.afterShutdown.freeCount);
  }
}

}  // namespace
