#!/usr/bin/env python3
"""How long the studio takes to answer a preview of a 1080p H.264 clip.

Makes 20 s clips with FFmpeg (key frames every 2 s, and x264's default of every
10 s), starts `trackloom studio`, picks each clip and asks for the preview at moments
spread over it: first while the background pass that makes previews quick is still
running (each preview then decodes from the nearest key frame), then once it is done.
Prints the wall time of the answers (median, fastest, slowest), the CPU time the
server spent per preview, and how long the pass took. A measurement, not a test: it
passes or fails nothing.
    tests/studio/preview_timing.py build/native/cli/trackloom
"""
import http.client
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse


def cpu_seconds(pid):
    with open(f'/proc/{pid}/stat') as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def main():
    trackloom = sys.argv[1] if len(sys.argv) > 1 else 'trackloom'
    with tempfile.TemporaryDirectory() as folder:
        clips = []
        for key_frames in (50, 250):
            clip = os.path.join(folder, f'1080p-key-every-{key_frames}.mp4')
            subprocess.run(['ffmpeg', '-nostdin', '-v', 'error', '-y', '-f', 'lavfi', '-i',
                            'testsrc2=size=1920x1080:rate=25:duration=20', '-c:v', 'libx264',
                            '-preset', 'veryfast', '-g', str(key_frames), clip], check=True)
            clips.append(clip)
        server = subprocess.Popen([trackloom, 'studio', folder, '--no-browser'],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            address = urllib.parse.urlparse(server.stdout.readline().strip())
            # The key in the address is good once, for the session's cookie.
            connection = http.client.HTTPConnection('127.0.0.1', address.port, timeout=60)
            connection.request('GET', '/?' + address.query)
            response = connection.getresponse()
            response.read()
            cookie = response.getheader('Set-Cookie').split(';')[0]
            headers = {'Cookie': cookie, 'X-Trackloom-Page': '1'}
            writes = dict(headers, Origin=f'http://127.0.0.1:{address.port}')

            def ask(method, path, body=None, head=headers):
                connection = http.client.HTTPConnection('127.0.0.1', address.port, timeout=60)
                connection.request(method, path, body=body, headers=head)
                response = connection.getresponse()
                response.read()
                return response.status

            def quick(clip):
                connection = http.client.HTTPConnection('127.0.0.1', address.port, timeout=60)
                connection.request('GET', f'/api/quick?path={urllib.parse.quote(clip)}', headers=headers)
                return json.loads(connection.getresponse().read())['state']

            def measure(clip, label, moments):
                walls, cpu_before = [], cpu_seconds(server.pid)
                for i in range(moments):
                    start = time.monotonic()
                    status = ask('GET', f'/api/preview?path={urllib.parse.quote(clip)}&t={0.4 + 0.81 * i:.2f}')
                    walls.append(1000 * (time.monotonic() - start))
                    assert status == 200
                cpu = 1000 * (cpu_seconds(server.pid) - cpu_before) / len(walls)
                print(f'{os.path.basename(clip)}, {label}: median {statistics.median(walls):.0f} ms, '
                      f'fastest {min(walls):.0f} ms, slowest {max(walls):.0f} ms, '
                      f'server CPU {cpu:.0f} ms a preview; load average {os.getloadavg()[0]:.1f}')

            for clip in clips:
                ask('POST', '/api/pick', json.dumps({'path': clip}), writes)
                picked = time.monotonic()
                measure(clip, 'pass running', 3)
                while quick(clip) != 'ready':
                    time.sleep(0.05)
                print(f'{os.path.basename(clip)}: pass done {time.monotonic() - picked:.1f} s after the pick')
                measure(clip, 'pass done', 24)
        finally:
            server.terminate()
            server.wait()


main()
