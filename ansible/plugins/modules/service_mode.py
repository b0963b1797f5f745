#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: service_mode
short_description: Query, enable or disable the service mode of a storage adapter port
version_added: 1.0.0
description:
  - Runs C(kivservicemode) on the managed system with C(--json) and returns
    its document.
  - The program always reads the port and its partner (1L with 1R, 2L with
    2R) and clears the partner's service mode before it enables the port
    when the partner holds it or cannot be read. A port already in the
    wanted state is left alone, so the module is idempotent.
  - C(changed) is the program's own word, not a guess from its text.
options:
  adapter:
    description:
      - The adapter's name, as C(kivservicemode -a) takes it.
    type: str
    required: true
  port:
    description:
      - The adapter port.
    type: str
    required: true
    choices: [1L, 1R, 2L, 2R]
  state:
    description:
      - C(enabled) puts the port in service mode, C(disabled) takes it out,
        C(query) only reads it.
      - A query that answers "in service mode" (the program's exit status 1)
        is an answer, not a failure.
    type: str
    choices: [enabled, disabled, query]
    default: query
  executable:
    description:
      - The C(kivservicemode) program to run, by path, or a name looked up on
        the system path and in C(/usr/sbin), C(/usr/local/sbin) and C(/sbin).
    type: str
    default: kivservicemode
attributes:
  check_mode:
    support: full
    details:
      - Check mode runs the program's query (C(-q)) only, and reports whether
        C(enabled) or C(disabled) would change the port.
      - When the port itself cannot be read, the program's query settles it
        as every run of it does, by clearing the port and setting it again
        when the clear worked; that is the only case in which check mode
        sends a change request.
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - kiv.storage.program
notes:
  - The module fails when the program reports a failure (exit status 11 or
    47); C(msg) is then the program's own line, such as
    C(Service Mode 1 to port 3 failed, rc=FFFFFD4F).
  - Run as root, C(kivservicemode) writes a trace into C(/var/log/kivcfg).
requirements:
  - The C(kivservicemode) program of the kiv package, version 1.0.0 or later,
    on the managed system.
seealso:
  - module: kiv.storage.enclosure_info
author:
  - kiv team
'''

EXAMPLES = r'''
- name: Put port 2L of adapter A0 in service mode
  kiv.storage.service_mode:
    adapter: A0
    port: 2L
    state: enabled

- name: Read port 1R
  kiv.storage.service_mode:
    adapter: A0
    port: 1R
  register: port_1r

- name: Take 2L out of service mode after the maintenance window
  kiv.storage.service_mode:
    adapter: A0
    port: 2L
    state: disabled
    executable: /usr/sbin/kivservicemode
'''

RETURN = r'''
msg:
  description: The program's result line.
  returned: always
  type: str
  sample: Service Mode 1 to port 3 success
rc:
  description:
    - The program's exit status. 0 not in service mode or change done, 1 in
      service mode (a query's answer), 11 bad command line, 47 failed.
    - In check mode, the status of the query.
  returned: always
  type: int
  sample: 0
service_mode:
  description:
    - The service mode of the port and of its partner as the program read
      them before any change; null where the read failed.
  returned: always
  type: dict
  sample: {"port": false, "partner": false}
requests:
  description:
    - Every request the program sent to the adapter, in order, with its
      result. C(value) is present for changes only.
  returned: always
  type: list
  elements: dict
  sample:
    - {"transaction": "FN_ADAP_GetFCLoopMap", "port": {"name": "2L", "number": 3}, "exchange_code": 0, "result": 0,
       "result_name": "AS_Success"}
    - {"transaction": "FN_ADAP_ServiceMode", "port": {"name": "2L", "number": 3}, "value": 1, "exchange_code": 0,
       "result": 0, "result_name": "AS_Success"}
port:
  description: The port, by name and number.
  returned: always
  type: dict
  sample: {"name": "2L", "number": 3}
partner:
  description: The port's partner, by name and number.
  returned: always
  type: dict
  sample: {"name": "2R", "number": 4}
action:
  description: What the program was asked to do.
  returned: always
  type: str
  sample: enable
messages:
  description: The program's messages, each with its severity.
  returned: always
  type: list
  elements: dict
  sample: []
utility_invoked:
  description:
    - The program's name, version and argument list. Every other field of
      the program's document (see the JSON OUTPUT section of
      kivservicemode(8)) is returned as it is too.
  returned: always
  type: dict
  sample:
    {"name": "kivservicemode", "version": "1.0.0", "argv": ["kivservicemode", "-a", "A0", "-p", "2L", "-y", "--json"]}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kiv.storage.plugins.module_utils.kivprogram import document_fields, exit_answer, run_program

ACTIONS = {'enabled': '-y', 'disabled': '-n', 'query': '-q'}


def main():
    module = AnsibleModule(
        argument_spec=dict(
            adapter=dict(type='str', required=True),
            port=dict(type='str', required=True, choices=['1L', '1R', '2L', '2R']),
            state=dict(type='str', default='query', choices=list(ACTIONS)),
            executable=dict(type='str', default='kivservicemode'),
        ),
        supports_check_mode=True,
    )
    state = module.params['state']
    action = 'query' if module.check_mode else state
    # Exit status 1 is the query's "yes"; a change never exits with it.
    doc, rc, _ = run_program(module, ['-a', module.params['adapter'], '-p', module.params['port'], ACTIONS[action]],
                             answers=(0, 1) if action == 'query' else (0,))
    if module.check_mode:
        # The status, not service_mode.port: a port settled by the query's
        # clear test has no read of its own, yet the status answers for it.
        in_service_mode = rc == 1
        changed = (state == 'enabled' and not in_service_mode) or (state == 'disabled' and in_service_mode)
    else:
        changed = bool(doc.get('changed'))
    exit_answer(module, changed, rc, doc.get('result_line', ''), **document_fields(doc))


if __name__ == '__main__':
    main()
