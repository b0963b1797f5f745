# -*- coding: utf-8 -*-
# What the modules of kiv.storage share: each runs one of the project's
# programs by path, with an argument list and --json (never through a shell),
# reads the one JSON object it prints, and fails exactly when the program's
# exit status says it failed.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# The document versions these modules read: a new field raises only the
# minor number, a renamed or removed one the major.
FORMAT_MAJOR = 1

# Document fields that the result carries under Ansible's own names.
RENAMED = ('changed', 'exit_status', 'result_line')


def program_path(module):
    """The executable parameter as an absolute path: as given when it names
    a path, else found on PATH, then in the sbin folders, which an Ansible
    connection often leaves out of PATH and get_bin_path searches after it
    (the module fails when it is not found)."""
    executable = module.params['executable']
    if os.sep in executable:
        return os.path.abspath(executable)
    return module.get_bin_path(executable, required=True)


def last_line(text):
    lines = [line for line in (text or '').splitlines() if line.strip()]
    return lines[-1] if lines else ''


def document_fields(doc):
    """The program's document as module results: every field but those the
    result names otherwise (changed, rc, msg)."""
    return dict((key, value) for key, value in doc.items() if key not in RENAMED)


def failure_line(doc, stderr, rc):
    """What the program said went wrong: its result line, else its last
    error message, else its last line on standard error."""
    errors = [m.get('string') for m in doc.get('messages') or [] if isinstance(m, dict) and m.get('string')]
    return doc.get('result_line') or (errors[-1] if errors else '') or last_line(stderr) or \
        'exit status %d' % rc


def run_program(module, args, answers=(0,)):
    """Runs the program with args and --json. Returns (document, rc, the last
    line of standard error). A run whose exit status is not in answers (the
    statuses that answer rather than fail, such as 1 for "yes"), or that
    printed no document of a known major version, fails the module."""
    argv = [program_path(module)] + [str(arg) for arg in args] + ['--json']
    # Arguments reach the program as given: run_command would otherwise
    # expand ~ and $NAME in them as a shell does.
    rc, out, err = module.run_command(argv, expand_user_and_vars=False)
    try:
        doc = json.loads(out)
    except ValueError:
        doc = None
    version = doc.get('json_format_version') if isinstance(doc, dict) else None
    if not isinstance(version, list) or not version or version[0] != FORMAT_MAJOR:
        why = 'no JSON document' if version is None else 'a document of format %s, not %d.x' % (version, FORMAT_MAJOR)
        module.fail_json(msg='%s printed %s (exit status %d): %s' % (argv[0], why, rc, last_line(err)),
                         rc=rc, cmd=argv, stdout=out, stderr=err)
    if rc not in answers:
        # A failed run may still have changed something (a clear whose
        # re-set failed, an image half sent): the program says so.
        module.fail_json(msg=failure_line(doc, err, rc), rc=rc, changed=bool(doc.get('changed')), cmd=argv,
                         stderr=err, **document_fields(doc))
    return doc, rc, last_line(err)


# The parameters of every module that runs kivses, as the KIVSES part of
# the program documentation fragment describes them.
SES_OPTIONS = dict(
    serial=dict(type='str', required=True),
    executable=dict(type='str', default='kivses'),
    trace_dir=dict(type='path'),
)


def ses_args(module, verb, *operands):
    """kivses's arguments for verb: the serial number, the operands, and the
    trace folder when one is given."""
    args = [verb, module.params['serial']] + list(operands)
    if module.params['trace_dir']:
        args += ['--trace-dir', module.params['trace_dir']]
    return args


def exit_answer(module, changed, rc, msg, **results):
    """Ends the module with the program's answer. failed is set, not left
    out: Ansible takes a result with a nonzero rc and no failed key for a
    failure, and exit status 1 ("yes") is an answer."""
    module.exit_json(failed=False, changed=changed, rc=rc, msg=msg, **results)
