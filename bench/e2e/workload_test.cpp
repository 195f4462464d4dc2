// The workload definitions the driver and the bare program share: the
// driver builds the machine from them and the bare program computes the
// same names, so they must describe the work the benchmark claims.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>

#include "workload.h"

namespace {

using namespace tvbench;

TEST(Workload, EveryKindHasANameThatReadsBack) {
    std::set<std::string> names;
    for (Kind kind : allKinds()) {
        Kind back = Kind::Empty;
        ASSERT_TRUE(kindFromName(kindName(kind), back)) << kindName(kind);
        EXPECT_EQ(back, kind);
        names.insert(kindName(kind));
    }
    EXPECT_EQ(names.size(), 6u);
    Kind unused = Kind::Files;
    EXPECT_FALSE(kindFromName("FILES", unused));
    EXPECT_FALSE(kindFromName("", unused));
}

TEST(Workload, TheFindTreeIsTheSameWhenBuiltAgainFromItsOwnSize) {
    // The driver keeps the number of directories and builds the tree (and
    // the resets find the copies) from that number again.
    for (int asked : {1, 50, 111, 120, 500, 1000, 2000, 5000, 20000}) {
        SCOPED_TRACE(asked);
        const FindTree tree = findTree(asked);
        EXPECT_EQ(findTree(tree.directories()).directories(), tree.directories());
        if (asked >= 211) {
            EXPECT_LE(std::abs(tree.directories() - asked), 50);
        }

        const std::vector<std::string> copies = findCopyDirs(tree);
        const int leaves = tree.top * tree.mid * tree.leaf;
        EXPECT_EQ(static_cast<int>(copies.size()), (leaves + 99) / 100);
        EXPECT_EQ(std::set<std::string>(copies.begin(), copies.end()).size(), copies.size());
        for (const std::string &dir : copies) {
            // TREE\Tt\Mm\Ll with every index inside the tree.
            int t = -1, m = -1, l = -1;
            ASSERT_EQ(std::sscanf(dir.c_str(), "TREE\\T%d\\M%d\\L%d", &t, &m, &l), 3) << dir;
            EXPECT_TRUE(t >= 0 && t < tree.top && m >= 0 && m < tree.mid && l >= 0 && l < tree.leaf) << dir;
        }
    }
    EXPECT_EQ(findTree(5000).directories(), 5011);
}

TEST(Workload, IniSetsStayInTheFileAndAddOnlyTwoKeysPerSection) {
    for (int sections : {1, 3, 20}) {
        SCOPED_TRACE(sections);
        std::set<std::string> values;
        std::set<std::pair<std::string, std::string>> newKeys;
        for (int i = 0; i < 1000; ++i) {
            const IniSet set = iniSet(i, sections);
            int section = 0, key = 0;
            ASSERT_EQ(std::sscanf(set.section.c_str(), "Section%d", &section), 1);
            ASSERT_EQ(std::sscanf(set.key.c_str(), "Key%d", &key), 1);
            EXPECT_TRUE(section >= 1 && section <= sections) << set.section;
            EXPECT_TRUE(key >= 1 && key <= kIniKeysBefore + 2) << set.key;
            if (key > kIniKeysBefore) newKeys.insert({set.section, set.key});
            values.insert(set.value);
        }
        EXPECT_EQ(values.size(), 1000u); // every set leaves a value of its own
        EXPECT_EQ(newKeys.size(), static_cast<size_t>(2 * sections)); // 1,000 sets reach every key
    }
}

TEST(Workload, RegSetsNameDistinctValuesHalfOfThemThereBefore) {
    std::set<std::pair<std::string, std::string>> targets;
    std::set<std::string> keys;
    int existing = 0;
    for (int i = 0; i < 4000; ++i) {
        const RegSet set = regSet(i);
        targets.insert({set.subkey, set.name});
        keys.insert(set.subkey);
        EXPECT_EQ(set.subkey.rfind(std::string(kRegRoot) + "\\K", 0), 0u) << set.subkey;
        for (int v = 0; v < kRegValuesBefore; ++v)
            if (set.name == regValueName(v)) ++existing;
    }
    EXPECT_EQ(targets.size(), 4000u);
    EXPECT_EQ(keys.size(), static_cast<size_t>(kRegKeys));
    EXPECT_EQ(existing, kRegKeys * kRegValuesBefore);
}

TEST(Workload, DefaultSizesAreTheSixWorkloadsOfTheBenchmark) {
    const Sizes sizes;
    EXPECT_EQ(describe(workloadFor(Kind::Files, sizes)), "300 FILE installs over older 256 KiB files, .OLD backups");
    EXPECT_EQ(workloadFor(Kind::Files, sizes).fileBytes, 256u * 1024u);
    EXPECT_EQ(describe(workloadFor(Kind::Ini, sizes)), "1000 INI sets on a 20-section file");
    EXPECT_EQ(describe(workloadFor(Kind::BigFiles, sizes)), "16 x 64 MiB FILE installs into empty directories");
    EXPECT_EQ(workloadFor(Kind::BigFiles, sizes).fileBytes, 64u << 20);
    EXPECT_EQ(describe(workloadFor(Kind::FindFile, sizes)), "FINDFILE over 5011 directories (49 copies)");
    EXPECT_EQ(describe(workloadFor(Kind::Registry, sizes)), "4000 REG sets");
    // The empty run's condition asks for a version the product does not have.
    EXPECT_NE(std::string(kEmptyConditionValue), kProductVersion);
    // File names of the patch are distinct and fit the 8.3 form.
    std::set<std::string> names;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = fileName(i);
        EXPECT_LE(name.find('.'), 8u) << name;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 2000u);
}

} // namespace
