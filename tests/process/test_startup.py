"""Start-up and shutdown of the real program."""

import signal
import unittest

from velmora_process import Display, VelmoraTestCase, make_workdir, run_velmora


class NormalRun(VelmoraTestCase):
    def test_window_close_request_ends_a_normal_run(self):
        with Display() as display:
            run = run_velmora(make_workdir(self), display, stop=signal.SIGTERM)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNormalStdout(run)
        self.assertEqual(run.stderr_lines(), [])


if __name__ == "__main__":
    unittest.main()
