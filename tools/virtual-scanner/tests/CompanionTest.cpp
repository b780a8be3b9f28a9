// TwainWrapper.bundle as the trace data source loads it: one exported
// factory that fills the slot with a working scanner.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "tracelet/TripletOperator.h"

namespace {

TEST(CompanionTest, TheBundleExportsAFactoryThatMakesAScanner) {
    void* bundle = dlopen(VIRTUAL_SCANNER_BUNDLE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, bundle) << dlerror();
    auto factory = reinterpret_cast<CreateTwainWrapperProc>(dlsym(bundle, "CreateTwainWrapper"));
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(nullptr, dlsym(bundle, "CreateVirtualScanner")) << "the core stays hidden";
    TripletOperator* scanner = nullptr;
    factory("Tracelet.ds", &scanner);
    ASSERT_NE(nullptr, scanner);
    TW_IDENTITY id{};
    EXPECT_EQ(TWRC_SUCCESS, scanner->TripletEntry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
    EXPECT_STREQ("Tracelet Virtual Scanner", id.ProductName);
    delete scanner;
    dlclose(bundle);
}

}  // namespace
