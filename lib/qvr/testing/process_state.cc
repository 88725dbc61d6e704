#include "qvr/testing/process_state_testing.h"

#include "qvr/config/cfg_audit.h"
#include "qvr/config/cfg_switches.h"
#include "qvr/diag/trace.h"
#include "qvr/testing/alarm_testing.h"
#include "qvr/testing/config_testing.h"
#include "qvr/testing/link_testing.h"
#include "qvr/testing/rolling_testing.h"
#include "qvr/testing/settings_testing.h"

namespace qvr::testing {

void reset_process_state() {
    trace_Destroy();
    audit_Close();
    reset_audit_for_test();
    cfg::reset_switch_warnings_for_test();
    forget_notice_senders();
    alarm_testing::forget_kept_notices();
    link_testing::reset_table();
    forget_xml_status();
    forget_module_cache();
    forget_host_tables();
    forget_section_names();
    forget_write_filter();
    forget_extension_answers();
    forget_user_number_locale();
    reset_product_settings_for_test();
    rolling_testing::reset();
}

}  // namespace qvr::testing
