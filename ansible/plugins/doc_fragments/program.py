# -*- coding: utf-8 -*-
# What the modules' documentation shares: the attributes of all, and the
# options of those that run kivses.
from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):

    # Together with ansible.builtin.action_common_attributes, which
    # describes them.
    DOCUMENTATION = r'''
attributes:
  diff_mode:
    support: none
  platform:
    platforms: posix
'''

    KIVSES = r'''
options:
  serial:
    description:
      - The enclosure's serial number, 1 to 37 characters.
    type: str
    required: true
  executable:
    description:
      - The C(kivses) program to run, by path, or a name looked up on the
        system path and in C(/usr/sbin), C(/usr/local/sbin) and C(/sbin).
    type: str
    default: kivses
  trace_dir:
    description:
      - The folder that C(kivses) writes its trace into (C(--trace-dir)), a
        new folder or one that holds only C(kivses) traces.
      - Without it, C(kivses) traces into C(/var/log/kivcfg) when run as
        root, and not at all otherwise.
    type: path
requirements:
  - The C(kivses) program of the kiv package, version 1.0.0 or later, on the
    managed system.
'''
