# A stdout callback for the test driver: prints, once the playbook has run,
# one JSON object with each task's result per host ({task: {host: result}},
# the batches of a serial play merged). ansible-core ships no JSON callback.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
name: results
type: stdout
short_description: each task's result per host, as one JSON object
description:
  - Prints one JSON object at the end of the playbook.
'''

import json

from ansible.module_utils.common.json import AnsibleJSONEncoder
from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'results'

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.tasks = {}

    def _record(self, result, failed=False):
        # Callbacks get the result without its failed key: the method says.
        got = dict(result._result, failed=failed)
        self.tasks.setdefault(result._task.get_name(), {})[result._host.get_name()] = got

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result, failed=True)

    v2_runner_on_unreachable = v2_runner_on_failed
    v2_runner_on_ok = v2_runner_on_skipped = _record

    def v2_playbook_on_stats(self, stats):
        self._display.display(json.dumps(self.tasks, cls=AnsibleJSONEncoder, sort_keys=True))
