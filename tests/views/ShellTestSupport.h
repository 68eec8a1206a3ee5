#pragma once

#include "ModelTestSupport.h"

namespace Hub::Test {

// The model tests' fixture, with a way to start over for the next row of
// a table: the model and every fake made anew (the home folder stays).
class ShellFixture : public ModelFixture {
protected:
    void renew()
    {
        TearDown();
        model.reset();
        log = std::make_shared<CallLog>();
        service = std::make_shared<FakeService>(log);
        identity = std::make_shared<FakeIdentity>(log);
        devices = std::make_shared<FakeDevices>(log);
        installer = std::make_shared<FakeInstaller>(log);
        packages = std::make_shared<FakePackages>(log);
        network = std::make_shared<FakeNetwork>();
        clock = std::make_shared<FakeClock>();
        workspace = std::make_shared<FakeWorkspace>();
    }
};

} // namespace Hub::Test
