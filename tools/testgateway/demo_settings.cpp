#include "tools/testgateway/demo_settings.h"

namespace vantrel::testgateway {

TestGatewaySettings demoSettings() {
    TestGatewaySettings settings;
    OperatorSettings op;
    op.code = kDemoOperator;
    op.password = kDemoPassword;
    op.userCode = "U0000001";
    op.loginCode = "LC000001";
    for (const char* service : {"FTP_A_QS", "FTP_B_QS", "FTP_SG", "FTP_A_BULLET", "FTP_B_BULLET",
                                "FTP_SG_BULLET", "FTP_TZ_BULLET", "FTP_SSHB"}) {
        op.permissions.push_back({"VRELKA", service, "**", "C"});
    }
    settings.operators.push_back(op);
    settings.updateValues = {{"moduleversion", "1.30.00"}, {"packagename", "vantrel-130.pkg"}};
    return settings;
}

}  // namespace vantrel::testgateway
