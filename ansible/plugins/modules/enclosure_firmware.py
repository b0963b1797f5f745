#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: enclosure_firmware
short_description: Download a firmware image to a device behind an enclosure and commit it
version_added: 1.0.0
description:
  - Runs C(kivses fwload) on the managed system with C(--json), which
    transfers the image page by page, reading the short enclosure status
    after each, then commits it; returns the program's document.
  - C(changed) is true when the image was transferred and committed. The
    enclosure cannot report which firmware a device runs, so every run
    that is not in check mode downloads the image again; guard the task
    (C(when)) where that matters.
  - A bad short enclosure status during the download stops it before the
    commit and fails the module; with C(serial) and C(max_fail_percentage)
    on the play, a roll-out stops after the batch in which that happened.
options:
  device:
    description:
      - The device number behind the enclosure, 0 to 63.
    type: int
    required: true
  src:
    description:
      - The firmware image, a file on the managed system.
    type: path
    required: true
  wait:
    description:
      - Whether to wait the device's settling times (10 s after the start
        page, 20 s after the commit page, 5 s before the final status).
        C(false) passes C(--no-wait), for simulated enclosures.
    type: bool
    default: true
attributes:
  check_mode:
    support: full
    details:
      - Check mode runs C(--dry-run), which reads the status page, returns
        the plan and sends no download page; C(changed) is then true when
        the dry run found nothing in the way. A status that is not good
        (exit status 1, C(good) false) is an answer, not a failure, and
        C(changed) is then false.
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - kiv.storage.program
  - kiv.storage.program.kivses
notes:
  - The module fails when the program does (exit status 11, 26 busy, or 47);
    C(msg) is then the program's line, which names the serial number, the
    operation and the result code.
seealso:
  - module: kiv.storage.enclosure_info
author:
  - kiv team
'''

EXAMPLES = r'''
- name: Load and commit the image on device 5 of enclosure ENC1
  kiv.storage.enclosure_firmware:
    serial: ENC1
    device: 5
    src: /srv/firmware/enclosure-5.bin
  register: load

- name: Rehearse against the simulated enclosure (no settling waits)
  kiv.storage.enclosure_firmware:
    serial: ENC1
    device: 5
    src: /tmp/image.bin
    wait: false
    trace_dir: /tmp/kivses-traces
'''

RETURN = r'''
msg:
  description:
    - The program's last line, which names the outcome.
    - Empty in check mode, where the dry run tells its plan in C(plan).
  returned: always
  type: str
  sample: committed the image on ENC1 device 5
rc:
  description:
    - The program's exit status. 0 success, 11 bad command line or image, 26 busy, 47 failed.
    - In check mode, 1 when the status read is not good.
  returned: always
  type: int
  sample: 0
device:
  description: The device number.
  returned: always
  type: int
  sample: 5
image:
  description: The image's path, length in bytes and SHA-256.
  returned: always
  type: dict
  sample: {"path": "/tmp/image.bin", "length": 1200, "sha256": "9f86d08..."}
dry_run:
  description: Whether this was a dry run (check mode).
  returned: always
  type: bool
transferred:
  description: Whether every page of the image was sent and taken.
  returned: always
  type: bool
committed:
  description: Whether the commit was taken and the final status read good.
  returned: always
  type: bool
pages_total:
  description: The number of download pages the image takes.
  returned: always
  type: int
pages_sent:
  description: The number of image pages sent.
  returned: always
  type: int
bytes_sent:
  description: The number of image bytes sent.
  returned: always
  type: int
waits:
  description: The device's settling times, each with whether it was skipped.
  returned: always
  type: list
  elements: dict
  sample: [{"seconds": 10, "skipped": true}]
plan:
  description:
    - In check mode, the plan of the download. Every other field of the
      program's document (see the JSON OUTPUT section of kivses(8)) is
      returned as it is too.
  returned: check mode
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kiv.storage.plugins.module_utils.kivprogram import (SES_OPTIONS, document_fields, exit_answer,
                                                                            run_program, ses_args)


def main():
    options = dict(SES_OPTIONS)
    options.update(device=dict(type='int', required=True), src=dict(type='path', required=True),
                   wait=dict(type='bool', default=True))
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    args = ses_args(module, 'fwload', module.params['device'], module.params['src'])
    if not module.params['wait']:
        args.append('--no-wait')
    if module.check_mode:
        args.append('--dry-run')
    # A dry run's status 1 answers that the enclosure's status is not good,
    # so a download would not go ahead; one with status 0 changes nothing
    # but says a download would.
    doc, rc, line = run_program(module, args, answers=(0, 1) if module.check_mode else (0,))
    changed = rc == 0 if module.check_mode else bool(doc.get('changed'))
    exit_answer(module, changed, rc, line, **document_fields(doc))


if __name__ == '__main__':
    main()
