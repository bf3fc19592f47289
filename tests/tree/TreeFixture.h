#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TestSources.h"
#include "tree/DriveTree.h"
#include "ui/headless/HeadlessFrontend.h"

namespace moravel::testing {

// Disk images in a temporary folder, opened by a DriveAccess whose reads are
// logged (and can be made to fail), with a headless front end and the errors of
// every expansion.
class TreeFixture : public ::testing::Test {
protected:
    void TearDown() override { FailNthAllocation(0); }

    ImageFile NewImage(const std::string& name, std::uint64_t bytes) {
        return ImageFile(m_dir.File(name), bytes);
    }

    DriveTree& Open(std::vector<std::string> hardDisks, std::vector<std::string> floppies = {}) {
        DriveAccessOptions options;
        options.sources.hardDisks = std::move(hardDisks);
        options.sources.floppies = std::move(floppies);
        options.opener = m_opener.Opener();
        m_access = std::make_unique<DriveTree>(m_frontend, options);
        EXPECT_TRUE(m_access->Open().empty());
        return *m_access;
    }

    DriveItem& Disk(std::size_t index) { return m_access->GetDisks()[index]; }

    // The item's children; what the expansion could not read joins m_errors.
    std::vector<DriveItem*> Expand(DriveItem& item) {
        Expansion expansion = m_access->ExpandItem(item, m_progress);
        m_errors.insert(m_errors.end(), expansion.errors.begin(), expansion.errors.end());
        return std::move(expansion.children);
    }

    // The child of the item with that display name; fails the test when there is none.
    DriveItem& Child(DriveItem& item, std::string_view name) {
        for (DriveItem* child : Expand(item)) {
            if (child->DisplayName() == name) {
                return *child;
            }
        }
        ADD_FAILURE() << "no child \"" << name << "\" in \"" << item.DisplayName() << "\"";
        static DriveItem missing;
        return missing;
    }

    static std::vector<std::string> Names(const std::vector<DriveItem*>& items) {
        std::vector<std::string> names;
        for (const DriveItem* item : items) {
            names.emplace_back(item->DisplayName());
        }
        return names;
    }

    std::size_t ReadCount() const { return m_opener.Log().reads.size(); }

    TempDir m_dir;
    TestOpener m_opener;
    HeadlessFrontend m_frontend;
    std::unique_ptr<DriveTree> m_access;
    std::int32_t m_progress = -1;
    Errors m_errors;
};

}  // namespace moravel::testing
