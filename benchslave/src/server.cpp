// SPDX-License-Identifier: MIT
#include "server.h"

#include <modbus.h>

#include <cstdio>

#include "line.h"
#include "registers.h"
#include "slave.h"

namespace benchslave {

int serve(const Options& options, int stop_fd) {
    modbus_mapping_t* map = modbus_mapping_new(0, 0, kRegisterCount, 0);
    if (map == nullptr) return fail("modbus_mapping_new");
    Slave slave(options, map->tab_registers);
    const int rc = options.mode == LineMode::Tcp ? serve_tcp(options, slave, stop_fd)
                                                 : serve_rtu(options, slave, stop_fd);
    slave.write_counters();
    std::fputs(slave.counters_text().c_str(), stdout);
    std::fflush(stdout);
    modbus_mapping_free(map);
    return rc;
}

}  // namespace benchslave
