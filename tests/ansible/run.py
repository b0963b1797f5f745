#!/usr/bin/env python3
"""Builds the kiv.storage collection, installs it into a temporary folder and
runs the playbooks beside this file against four simulated storage systems on
this machine (inventory.yml), checking what the modules report and what each
simulator received.

Usage: run.py BUILD-FOLDER, a built tree of this project. The service-mode
module runs the tree's test copy of kivservicemode, which traces into the
folder KIV_TEST_TRACE_DIR names; kivses gets --trace-dir: nothing is written
to /var/log/kivcfg. Ends with the line "N passed, N failed"; the exit status
is 0 only when nothing failed.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile

import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
HOSTS = ['sys1', 'sys2', 'sys3', 'sys4']
MODULES = ['service_mode', 'enclosure_info', 'enclosure_firmware']


def every(want):
    return dict((host, want) for host in HOSTS)


# The requests a run on port 2L sends: its two reads, and the change.
READ_2L = ['FN_ADAP_GetFCLoopMap port=3 rc=0', 'FN_ADAP_GetFCLoopMap port=4 rc=0']
ENABLE_2L = ['FN_ADAP_ServiceMode port=3 value=1 rc=0']

# service_mode.yml, one run per row: the staging (None keeps the state and
# empties the logs; a dict resets every simulator, then stages the hosts it
# names), the playbook's arguments, and per host: what the set task reports
# ('changed', 'ok', or the failure's msg), whether the read-back finds 2L in
# service mode (None: the host stopped before it), and the simulator's log.
SERVICE_MODE_ROWS = [
    ('enabling 2L on four systems changes each', {}, ['-e', 'state=enabled'],
     every(('changed', True, READ_2L + ENABLE_2L + READ_2L))),
    ('enabling 2L again changes nothing, and no change request is sent', None, ['-e', 'state=enabled'],
     every(('ok', True, READ_2L * 2))),
    ('an adapter name reaches the program as written, never expanded as a shell would', None,
     ['-e', 'state=enabled', '-e', 'adapter=$KIVADAPSIM_STATE'], every(('ok', True, READ_2L * 2))),
    ('check mode: disabling would change each system, and only queries are sent', None,
     ['-e', 'state=disabled', '--check'], every(('changed', True, READ_2L * 2))),
    ('check mode: enabling would change nothing', None, ['-e', 'state=enabled', '--check'],
     every(('ok', True, READ_2L * 2))),
    ('a staged fault fails sys3 with the program\'s line while the other three finish',
     {'sys3': [['fault', 'send', 'after=2']]}, ['-e', 'state=enabled'],
     dict(every(('changed', True, READ_2L + ENABLE_2L + READ_2L)),
          sys3=('Service Mode 1 to port 3 failed, rc=FFFFFFFD', None,
                READ_2L + ['FN_ADAP_ServiceMode port=3 value=1 executed=no fault=send']))),
]

# firmware.yml, one run per row, every simulator reset and its enclosure
# staged with the status values given: the playbook's arguments, and per
# host the status its enclosure_info task reads ('good', 'not good', None
# when the host's batch never ran), what the load reports ('changed', 'dry
# run', 'ok', the failure's msg, None when it did not run), what the
# enclosure's device 5 holds afterwards, and whether any download page
# reached it.
GOOD = 'status=0'
# Good through the pre-check's three reads (one by list, two by status) and
# the read after the first image page; bad after the second.
BAD_SECOND_PAGE = 'status=0,0,0,0,3'
NOTHING = (None, None, 'no firmware received', False)
LOADED = ('good', 'changed', 'committed', True)
FIRMWARE_ROWS = [
    ('check mode runs dry on every system, and no download page is sent', every(GOOD), ['--check'],
     every(('good', 'dry run', 'no firmware received', False))),
    ('check mode: a status that turns bad before the dry run is an answer, a load that would change nothing',
     dict(every(GOOD), sys1='status=0,0,0,3'), ['--check'],
     dict(every(('good', 'dry run', 'no firmware received', False)),
          sys1=('good', 'ok', 'no firmware received', False))),
    ('a roll-out in batches of two stops after the batch in which an enclosure reports a bad status',
     dict(every(GOOD), sys2=BAD_SECOND_PAGE), [],
     dict(every(NOTHING), sys1=LOADED,
          sys2=('good', 'kivses: ENC2: SES_DownloadFwTransfer to device 5 failed: rc=86 (SES_ShortEncStatus); 1006 of '
                '1200 bytes sent, nothing committed', ', not committed (stopped)', True))),
    ('a status that is not good before the download is an answer, on whose check the roll-out stops at once',
     dict(every(GOOD), sys1='status=3'), [],
     dict(every(NOTHING), sys1=('not good', None, 'no firmware received', False),
          sys2=('good', None, 'no firmware received', False))),
]


class Failed(Exception):
    pass


def expect(what, got, want):
    if got != want:
        raise Failed('%s: got %r, want %r' % (what, got, want))


def run(argv, env, **kwargs):
    return subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


class Fleet:
    """The temporary folder: the installed collection, Ansible's own files,
    and per host its simulator state and trace folders."""

    def __init__(self, build, tmp):
        self.tmp = tmp
        self.root = os.path.join(tmp, 'fleet')
        self.image = os.path.join(tmp, 'image.bin')
        with open(self.image, 'wb') as f:
            f.write(bytes(i * 7 % 256 for i in range(1200)))
        self.programs = dict(kivservicemode=os.path.join(build, 'tests/support/kivservicemode_testcopy'),
                             kivses=os.path.join(build, 'sescli/kivses'),
                             kivadapsim=os.path.join(build, 'nicisim/kivadapsim'))
        config = os.path.join(tmp, 'ansible.cfg')
        open(config, 'w').close()
        # Everything Ansible writes stays in the temporary folder, and no
        # configuration or collection of this machine takes part.
        self.env = dict(os.environ, ANSIBLE_CONFIG=config, ANSIBLE_HOME=os.path.join(tmp, 'home'),
                        ANSIBLE_LOCAL_TEMP=os.path.join(tmp, 'local'), ANSIBLE_REMOTE_TMP=os.path.join(tmp, 'remote'),
                        ANSIBLE_COLLECTIONS_PATH=os.path.join(tmp, 'collections'),
                        ANSIBLE_COLLECTIONS_SCAN_SYS_PATH='false', ANSIBLE_STDOUT_CALLBACK='results',
                        ANSIBLE_CALLBACK_PLUGINS=os.path.join(HERE, 'callback'),
                        ANSIBLE_NOCOLOR='1', ANSIBLE_RETRY_FILES_ENABLED='false', ANSIBLE_PIPELINING='1',
                        PYTHONDONTWRITEBYTECODE='1')
        for name in ('KIVADAPSIM_STATE', 'KIV_TEST_TRACE_DIR'):
            self.env.pop(name, None)

    def sim(self, host, *args):
        env = dict(self.env, KIVADAPSIM_STATE=os.path.join(self.root, host, 'state'))
        os.makedirs(os.path.join(self.root, host), exist_ok=True)
        done = run([self.programs['kivadapsim']] + list(args), env)
        if done.returncode not in (0, 1):
            raise Failed('kivadapsim %s on %s: %s' % (' '.join(args), host, done.stderr.strip()))
        return done.stdout

    def log(self, host):
        return self.sim(host, 'log').splitlines()

    def stage(self, staging):
        for host in HOSTS:
            if staging is None:
                self.sim(host, 'log', 'clear')
                continue
            self.sim(host, 'reset')
            commands = staging.get(host, [])
            for command in [commands] if isinstance(commands, str) else commands:
                args = command if isinstance(command, list) else ['enclosure', 'ENC' + host[-1], command]
                self.sim(host, *args)

    def ansible(self, *argv):
        return run(list(argv), self.env, cwd=self.tmp)

    def playbook(self, name, args):
        """Runs a playbook; returns its exit status and, per task name, the
        result of each host that ran it."""
        extra = dict(sim_root=self.root, image=self.image, **self.programs)
        done = self.ansible('ansible-playbook', '-i', os.path.join(HERE, 'inventory.yml'), '-e', json.dumps(extra),
                            os.path.join(HERE, name), *args)
        try:
            return done.returncode, json.loads(done.stdout)
        except ValueError:
            raise Failed('ansible-playbook %s printed no report: %s' % (name, done.stderr.strip()[-500:]))


def check_collection(fleet):
    built = fleet.ansible('ansible-galaxy', 'collection', 'build', os.path.join(TOP, 'ansible'),
                          '--output-path', 'dist')
    expect('ansible-galaxy collection build', (built.returncode, built.stderr), (0, ''))
    tarball = os.path.join(fleet.tmp, 'dist', os.listdir(os.path.join(fleet.tmp, 'dist'))[0])
    installed = fleet.ansible('ansible-galaxy', 'collection', 'install', '--offline', tarball)
    expect('ansible-galaxy collection install', (installed.returncode, installed.stderr), (0, ''))
    with open(os.path.join(TOP, 'CMakeLists.txt')) as f:
        project = re.search(r'project\(kiv VERSION ([0-9.]+)', f.read()).group(1)
    expect('the collection\'s file name, by the project\'s version', os.path.basename(tarball),
           'kiv-storage-%s.tar.gz' % project)


def check_doc(fleet, module):
    name = 'kiv.storage.' + module
    shown = fleet.ansible('ansible-doc', name)
    expect('ansible-doc %s: status, warnings' % name, (shown.returncode, shown.stderr), (0, ''))
    for heading in ('OPTIONS', 'EXAMPLES', 'RETURN VALUES'):
        expect('ansible-doc %s shows %s' % (name, heading), ('\n' + heading) in shown.stdout, True)
    doc = json.loads(fleet.ansible('ansible-doc', '--json', name).stdout)[name]
    options = set(doc['doc']['options'])
    for example in yaml.safe_load(doc['examples']):
        expect('options of the example "%s"' % example['name'], set(example.get(name, {})) - options, set())


def check_service_mode(fleet, staging, args, want):
    fleet.stage(staging)
    status, tasks = fleet.playbook('service_mode.yml', args)
    adapter = ([a[len('adapter='):] for a in args if a.startswith('adapter=')] or ['A0'])[0]
    failing = any(outcome not in ('changed', 'ok') for outcome, _, _ in want.values())
    expect('ansible-playbook\'s exit status', status, 2 if failing else 0)
    for host, (outcome, enabled, log) in sorted(want.items()):
        result = tasks['Set the port\'s service mode'].get(host, {})
        got = result.get('msg') if result.get('failed') else 'changed' if result.get('changed') else 'ok'
        expect(host + ': the set task', got, outcome)
        expect(host + ': the adapter the program was given', result.get('adapter'), adapter)
        readback = tasks['Read it back'].get(host)
        # Status 1, "in service mode", is an answer, not a failure.
        expect(host + ': 2L read back: rc, in service mode, failed', readback and (
            readback['rc'], readback['service_mode']['port'], readback['failed']),
               None if enabled is None else (1, True, False) if enabled else (0, False, False))
        requests = [r['transaction'] + ' port=%d' % r['port']['number'] +
                    (' value=%d' % r['value'] if 'value' in r else '') + ' rc=%d' % r['result']
                    for r in result.get('requests', [])]
        expect(host + ': what the simulator received', fleet.log(host), log)
        if not result.get('failed'):
            expect(host + ': the requests the set task returns', requests, log[:len(requests)])


def check_firmware(fleet, staging, args, want):
    fleet.stage(staging)
    status, tasks = fleet.playbook('firmware.yml', args)
    failing = any(read == 'not good' or outcome not in ('changed', 'dry run', 'ok', None)
                  for read, outcome, _, _ in want.values())
    expect('ansible-playbook\'s exit status', status, 2 if failing else 0)
    with open(fleet.image, 'rb') as f:
        image = f.read()
    for host, (read, outcome, holds, downloads) in sorted(want.items()):
        info = tasks['Read the enclosure'].get(host)
        expect(host + ': the pages and status read', info and (
            [p['code'] for p in info['pages']], info['good'], info['rc'], info['failed']),
               read and ([0, 4, 8], read == 'good', 0 if read == 'good' else 1, False))
        result = tasks.get('Load the image', {}).get(host)
        got = result and (result['msg'] if result.get('failed') else (
            'dry run' if result['dry_run'] else 'changed') if result['changed'] else 'ok')
        expect(host + ': the load', got, outcome)
        if outcome == 'changed':
            expect(host + ': what the load returns', (result['transferred'], result['committed'], result['image']),
                   (True, True, dict(path=fleet.image, length=len(image), sha256=hashlib.sha256(image).hexdigest())))
        firmware = fleet.sim(host, 'firmware', 'ENC' + host[-1]).splitlines()[-1]
        if holds == 'committed':
            holds = 'device 5: pages 3, length %d, sha256 %s, committed' % (
                len(image), hashlib.sha256(image).hexdigest())
        expect(host + ': the enclosure\'s firmware ends', firmware[len(firmware) - len(holds):], holds)
        log = fleet.log(host)
        expect(host + ': download pages received', any('cmd=SEND_DIAGNOSTIC' in line for line in log), downloads)
        if read is None:
            expect(host + ': what the enclosure of a later batch received', log, [])


def check_traces(fleet):
    for host in HOSTS:
        for program in ('kivservicemode', 'kivses'):
            folder = os.path.join(fleet.root, host, 'traces-' + program)
            names = os.listdir(folder) if os.path.isdir(folder) else []
            expect('%s: traces in %s' % (host, folder), bool(names) and all(n.startswith(program) for n in names), True)


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: run.py BUILD-FOLDER')
    build = os.path.abspath(sys.argv[1])
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix='kiv-ansible.') as tmp:
        try:
            fleet = Fleet(build, tmp)
        except Failed as why:
            print('FAIL the fleet cannot be set up: %s' % why)
            print('0 passed, 1 failed')
            return 1
        checks = [('the collection builds and installs, versioned as the project', check_collection, ())]
        checks += [('ansible-doc renders kiv.storage.' + m, check_doc, (m,)) for m in MODULES]
        checks += [(row[0], check_service_mode, row[1:]) for row in SERVICE_MODE_ROWS]
        checks += [(row[0], check_firmware, row[1:]) for row in FIRMWARE_ROWS]
        checks += [('every trace went to the folder its host was given', check_traces, ())]
        for name, check, args in checks:
            try:
                check(fleet, *args)
            except (Failed, KeyError, TypeError) as why:
                failed += 1
                print('FAIL %s\n     %s' % (name, why))
                continue
            passed += 1
            print('ok   %s' % name)
    print('%d passed, %d failed' % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
