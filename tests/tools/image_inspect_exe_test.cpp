// image-inspect itself, run as a release engineer runs it, on a synthetic Windows
// program that carries this build's own packed images.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "images/resource_source.h"
#include "tests/tools/synthetic_pe.h"
#include "tools/file_io.h"
#include "tools/image_report.h"
#include "tools/pe_resources.h"
#include "tools/version_resource.h"

namespace {

struct SRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ImageInspectExe : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "image-inspect-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // The build's containers as RT_RCDATA 169-171, and a version record.
    std::vector<std::uint8_t> ShippedProgram() const {
        std::vector<SSyntheticResource> resources;
        for (const std::uint32_t id : kCarriedImageIds) {
            const auto container = BuiltInResources().Find(id);
            EXPECT_TRUE(container);
            resources.push_back({kResourceTypeRcData, id, 0x0409, {container->begin(), container->end()}});
        }
        resources.push_back(
            {kResourceTypeVersion, kVersionRecordName, 0x0409, BuildVersionRecord({2, 14186, 0, 0})});
        return BuildSyntheticPe(resources, EPeFormat::kPe32Plus).bytes;
    }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        const std::string path = (dir / name).string();
        EXPECT_TRUE(WriteWholeFile(path, bytes));
        return path;
    }

    SRun Run(const std::string& arguments) const {
        const std::string out = (dir / "stdout").string();
        const std::string err = (dir / "stderr").string();
        const std::string command =
            std::string(TESSEL_IMAGE_INSPECT) + " " + arguments + " >" + out + " 2>" + err;
        SRun run;
        const int status = std::system(command.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const auto out_bytes = ReadWholeFile(out);
        const auto err_bytes = ReadWholeFile(err);
        run.out.assign(out_bytes->begin(), out_bytes->end());
        run.err.assign(err_bytes->begin(), err_bytes->end());
        return run;
    }

    std::filesystem::path dir;
};

TEST_F(ImageInspectExe, ListOfTheShippedProgram_ReportsItsImagesAndVersionAndSucceeds) {
    const std::string exe = Write("program.exe", ShippedProgram());
    const SRun run = Run("list " + exe);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    const SRun own = Run("list");
    EXPECT_EQ(own.status, 0);
    // The same table as for the build's own images, then the version.
    EXPECT_EQ(run.out, own.out + "product version 2.14186.0.0\n");
}

TEST_F(ImageInspectExe, ListOfATruncatedProgram_SaysWhyAndFails) {
    auto bytes = ShippedProgram();
    bytes.resize(bytes.size() / 2);
    const std::string exe = Write("cut.exe", bytes);
    const SRun run = Run("list " + exe);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("image-inspect: " + exe + ": resource directory"), std::string::npos) << run.err;
}

TEST_F(ImageInspectExe, ListOfAMissingFile_Fails) {
    const SRun run = Run("list " + (dir / "none.exe").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot read"), std::string::npos) << run.err;
}

TEST_F(ImageInspectExe, UnpackFromTheShippedProgram_WritesTheRawImage) {
    const std::string exe = Write("program.exe", ShippedProgram());
    const std::string out = (dir / "boot.bin").string();
    const SRun run = Run("unpack 170 " + out + " " + exe);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadWholeFile(out), ReadWholeFile(TESSEL_RAW_BOOT));
}

TEST_F(ImageInspectExe, UnpackFromAProgramWithoutTheImage_Fails) {
    const std::string exe = Write("program.exe", ShippedProgram());
    const SRun run = Run("unpack 172 " + (dir / "x.bin").string() + " " + exe);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(" 172  not carried"), std::string::npos) << run.out;
}

}  // namespace
