// The calibration file: parsed anew at every call, defaults for what it lacks,
// nothing written when it cannot be opened.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client.h"

namespace {
using vornsim::SimRoot;
using vorntest::Report;
using vorntest::run_client;
using vorntest::VornLib;

// Outputs start here so that an output left alone is told from one written.
constexpr double kUntouched = -12345.5;

struct Readings {
    long long scaling_result;
    std::vector<double> scaling;  // Scale_X, Scale_Y
    long long roc_result;
    std::vector<double> roc;      // RoiX, RoiY, RoiI0min, RoiI0max, Roc
};

Readings read_calibration(const SimRoot& root) {
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        double scaling[2] = {kUntouched, kUntouched};
        report.put("scaling_result", lib.getBPMscaling(&scaling[0], &scaling[1]));
        report.put_values("scaling", scaling, 2);
        double roc[5] = {kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};
        report.put("roc_result", lib.getROCandROI(&roc[0], &roc[1], &roc[2], &roc[3], &roc[4]));
        report.put_values("roc", roc, 5);
    });
    EXPECT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.out, "vorn_if lib loaded\n\n") << "the calibration getters print nothing";
    return {run.integer("scaling_result"), run.values<double>("scaling"),
            run.integer("roc_result"), run.values<double>("roc")};
}

TEST(CalibrationFile, WhenItCannotBeOpenedBothGettersFailAndWriteNothing) {
    SimRoot root = SimRoot::make_fresh();
    root.remove_calibration();
    const Readings got = read_calibration(root);
    EXPECT_EQ(got.scaling_result, -1);
    EXPECT_EQ(got.scaling, std::vector<double>(2, kUntouched));
    EXPECT_EQ(got.roc_result, -1);
    EXPECT_EQ(got.roc, std::vector<double>(5, kUntouched));
}

TEST(CalibrationFile, ContentsYieldTheirValuesOrTheDefaults) {
    struct Case {
        const char* name;
        const char* text;
        std::vector<double> scaling;
        std::vector<double> roc;
    };
    const std::vector<double> unit_scale{1.0, 1.0};
    const std::vector<double> zero_roc(5, 0.0);
    const Case cases[] = {
        {"complete file",
         "; position calibration\n[BPM1]\nScale_X = 1.25\nScale_Y = 0.98\n\n[ROCandROI]\n"
         "RoiX = 2.0\nRoiY = 1.5\nRoiI0min = 0.1\nRoiI0max = 10.0\nRoc = 0.5\n",
         {1.25, 0.98}, {2.0, 1.5, 0.1, 10.0, 0.5}},
        {"empty file", "", unit_scale, zero_roc},
        {"no BPM1 section", "[BPM2]\nScale_X = 3\n[ROCandROI]\nRoc = 4\n", unit_scale,
         {0.0, 0.0, 0.0, 0.0, 4.0}},
        {"value that is no number", "[BPM1]\nScale_X = abc\nScale_Y = 0.5\n", {1.0, 0.5}, zero_roc},
        {"number followed by text", "[BPM1]\nScale_X = 2.5 mm\n", {2.5, 1.0}, zero_roc},
        {"names in other letter case", "[bpm1]\nscale_x = 3\nSCALE_Y = 4\n[rocandroi]\nroix = 5\n",
         {3.0, 4.0}, {5.0, 0.0, 0.0, 0.0, 0.0}},
        {"malformed third line before the key", "[BPM1]\nScale_Y = 0.5\nthis is no ini line\n"
         "Scale_X = 1.75\n", {1.75, 0.5}, zero_roc},
        {"comment and further keys", "[BPM1]\n; Scale_X = 9\nOffset = 7\nScale_Y = -2e-3\n",
         {1.0, -2e-3}, zero_roc},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRoot root = SimRoot::make_fresh();
        root.set_calibration(c.text);
        const Readings got = read_calibration(root);
        EXPECT_EQ(got.scaling_result, 0);
        EXPECT_EQ(got.scaling, c.scaling);
        EXPECT_EQ(got.roc_result, 0);
        EXPECT_EQ(got.roc, c.roc);
        std::ifstream file(root.calibration_file());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), c.text)
            << "the file is only ever read";
    }
}

TEST(CalibrationFile, NullOutputsAreSkippedAndTheResultStillTellsWhetherItOpened) {
    SimRoot root = SimRoot::make_fresh();
    root.set_calibration("[BPM1]\nScale_X = 2\nScale_Y = 3\n[ROCandROI]\nRoiY = 6\nRoc = 8\n");
    const auto body = [](VornLib& lib, Report& report) {
        report.put("scaling_none", lib.getBPMscaling(nullptr, nullptr));
        report.put("roc_none", lib.getROCandROI(nullptr, nullptr, nullptr, nullptr, nullptr));
        double scale_y = kUntouched;
        report.put("scaling_y_only", lib.getBPMscaling(nullptr, &scale_y));
        report.put_values("scale_y", &scale_y, 1);
        double roi_y = kUntouched;
        double roc = kUntouched;
        report.put("roc_two", lib.getROCandROI(nullptr, &roi_y, nullptr, nullptr, &roc));
        report.put_values("roi_y_roc", std::vector<double>{roi_y, roc}.data(), 2);
    };
    const auto present = run_client(root, body);
    ASSERT_TRUE(present.ok()) << present.describe();
    EXPECT_EQ(present.integer("scaling_none"), 0);
    EXPECT_EQ(present.integer("roc_none"), 0);
    EXPECT_EQ(present.integer("scaling_y_only"), 0);
    EXPECT_EQ(present.values<double>("scale_y"), std::vector<double>{3.0});
    EXPECT_EQ(present.integer("roc_two"), 0);
    EXPECT_EQ(present.values<double>("roi_y_roc"), (std::vector<double>{6.0, 8.0}));

    root.remove_calibration();
    const auto absent = run_client(root, body);
    ASSERT_TRUE(absent.ok()) << absent.describe();
    EXPECT_EQ(absent.integer("scaling_none"), -1);
    EXPECT_EQ(absent.integer("roc_none"), -1);
}

TEST(CalibrationFile, OneVariableGivenForSeveralOutputsEndsWithTheLastKey) {
    SimRoot root = SimRoot::make_fresh();
    root.set_calibration("[BPM1]\nScale_X = 2\nScale_Y = 3\n[ROCandROI]\n"
                         "RoiX = 1\nRoiY = 2\nRoiI0min = 3\nRoiI0max = 4\nRoc = 5\n");
    const auto run = run_client(root, [](VornLib& lib, Report& report) {
        double scale = kUntouched;
        lib.getBPMscaling(&scale, &scale);
        report.put_values("scale", &scale, 1);
        double roi = kUntouched;
        lib.getROCandROI(&roi, &roi, &roi, &roi, &roi);
        report.put_values("roi", &roi, 1);
        double first_four = kUntouched;
        lib.getROCandROI(&first_four, &first_four, &first_four, &first_four, nullptr);
        report.put_values("first_four", &first_four, 1);
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.values<double>("scale"), std::vector<double>{3.0});
    EXPECT_EQ(run.values<double>("roi"), std::vector<double>{5.0});
    EXPECT_EQ(run.values<double>("first_four"), std::vector<double>{4.0});
}

TEST(CalibrationFile, AnEditTakesEffectAtTheNextCallOfTheSameProcess) {
    SimRoot root = SimRoot::make_fresh();
    root.set_calibration("[BPM1]\nScale_X = 1.5\n");
    const auto run = run_client(root, [&root](VornLib& lib, Report& report) {
        double before = kUntouched;
        lib.getBPMscaling(&before, nullptr);
        root.set_calibration("[BPM1]\nScale_X = 2.5\n");
        double edited = kUntouched;
        lib.getBPMscaling(&edited, nullptr);
        root.remove_calibration();
        double removed = kUntouched;
        report.put("removed_result", lib.getBPMscaling(&removed, nullptr));
        report.put_values("values", std::vector<double>{before, edited, removed}.data(), 3);
    });
    ASSERT_TRUE(run.ok()) << run.describe();
    EXPECT_EQ(run.values<double>("values"), (std::vector<double>{1.5, 2.5, kUntouched}));
    EXPECT_EQ(run.integer("removed_result"), -1);
}

}  // namespace
