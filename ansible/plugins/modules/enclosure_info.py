#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: enclosure_info
short_description: Read the pages an enclosure supports and its short status
version_added: 1.0.0
description:
  - Runs C(kivses list) and C(kivses status) on the managed system with
    C(--json) and returns the supported diagnostic pages and the short
    enclosure status.
  - Never changes anything. A status that is not good is an answer
    (C(good) false), not a failure; the module fails only when a page could
    not be read.
attributes:
  check_mode:
    support: full
    details:
      - Reads only, in check mode as in any other.
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - kiv.storage.program
  - kiv.storage.program.kivses
notes:
  - When a read fails (exit status 11, 26 or 47), C(msg) is the program's
    line, which names the serial number, the operation and the result code.
seealso:
  - module: kiv.storage.enclosure_firmware
author:
  - kiv team
'''

EXAMPLES = r'''
- name: Read enclosure ENC1
  kiv.storage.enclosure_info:
    serial: ENC1
  register: enclosure

- name: Go on only with a good enclosure
  ansible.builtin.assert:
    that: enclosure.good
    fail_msg: "ENC1 reports status {{ enclosure.status }}"
'''

RETURN = r'''
serial:
  description: The enclosure's serial number, as given.
  returned: success
  type: str
  sample: ENC1
pages:
  description: The pages the enclosure supports (its page 0).
  returned: success
  type: list
  elements: dict
  sample:
    - {"code": 0, "name": "Supported Diagnostic Pages", "short_name": "sdp"}
    - {"code": 8, "name": "Short Enclosure Status", "short_name": "ses"}
status:
  description: The short enclosure status (page 8); 0 is good.
  returned: success
  type: int
  sample: 0
good:
  description: Whether the status is good.
  returned: success
  type: bool
  sample: true
rc:
  description: The exit status of C(kivses status), 0 good or 1 not good.
  returned: always
  type: int
  sample: 0
msg:
  description:
    - When a read failed, the program's line about the failure.
    - Otherwise the last line C(kivses status) wrote on standard error,
      which is empty when the status was read (the status itself is in
      C(status) and C(good)).
  returned: always
  type: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kiv.storage.plugins.module_utils.kivprogram import (SES_OPTIONS, exit_answer, run_program,
                                                                            ses_args)


def main():
    module = AnsibleModule(argument_spec=dict(SES_OPTIONS), supports_check_mode=True)
    listing, _, _ = run_program(module, ses_args(module, 'list'))
    # Status 1, "not good", answers the question.
    status, rc, line = run_program(module, ses_args(module, 'status'), answers=(0, 1))
    exit_answer(module, False, rc, line, serial=module.params['serial'], pages=listing.get('pages', []),
                status=status.get('status'), good=status.get('good'))


if __name__ == '__main__':
    main()
