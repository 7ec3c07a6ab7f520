// The command application: start-up, then the menu of directory commands.
#pragma once

#include "console/OvConsoleApplication.h"

class OvUserServiceCommandApp : public OvConsoleApplication {
public:
    OvUserServiceCommandApp();
    ~OvUserServiceCommandApp() override;

    int Run() override;
    void Shutdown() override;
};
