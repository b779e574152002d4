#!/usr/bin/python3
"""The zeep side of the comparison (bench/compare.sh): one lookup is the
request message built from the same values and the canned response parsed
into zeep's objects, with no network.

    zeep_peer.py WSDL RESPONSE_FILE REPETITIONS
    zeep_peer.py WSDL URL CA_FILE REPETITIONS     (the whole call over HTTPS)
prints: median microseconds, peak resident kilobytes, activities read.
"""
import resource
import sys
import time

from lxml import etree
from zeep import Client, Settings
from zeep.transports import Transport


SECURITY = ('<SOAP-ENV:Security xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/">'
            '<SOAP-ENV:UsernameToken><SOAP-ENV:Username>USER</SOAP-ENV:Username>'
            '<SOAP-ENV:Password>secret</SOAP-ENV:Password></SOAP-ENV:UsernameToken>'
            '</SOAP-ENV:Security>')


def end_to_end(wsdl: str, url: str, ca_file: str, reps: int) -> None:
    import requests
    session = requests.Session()
    session.verify = ca_file
    session.trust_env = False  # no CA bundle from the environment over ca_file
    client = Client(wsdl, settings=Settings(strict=False), transport=Transport(session=session))
    service = client.create_service(
        '{' + client.wsdl.types.prefix_map['ns0'] + '}RgWsPublicPortBinding', url)
    security = etree.fromstring(SECURITY)
    times = []
    count = 0
    for _ in range(reps):
        t0 = time.perf_counter()
        result = service.rgWsPublicAfmMethod(
            {'afmCalledBy': '012345678', 'afmCalledFor': '094019245'}, {}, {}, '0', {},
            _soapheaders=[security])
        session.close()  # a new connection per call, as the library makes
        times.append((time.perf_counter() - t0) * 1e6)
        acts = result['arrayOfRgWsPublicFirmActRt_out']
        count = len(acts.RgWsPublicFirmActRtUser) if acts is not None else 0
    times.sort()
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f'{times[len(times) // 2]:.1f} {peak} {count}')


def main() -> None:
    if sys.argv[2].startswith('https://'):
        return end_to_end(sys.argv[1], sys.argv[2], sys.argv[3], max(1, int(sys.argv[4])))
    wsdl, response_file, reps = sys.argv[1], sys.argv[2], max(1, int(sys.argv[3]))
    with open(response_file, 'rb') as f:
        response = f.read()
    client = Client(wsdl, settings=Settings(strict=False, xml_huge_tree=True),
                    transport=Transport())
    binding = client.service._binding
    operation = binding.get('rgWsPublicAfmMethod')
    ns = client.wsdl.types.prefix_map.get('ns0')
    security = etree.fromstring(
        '<SOAP-ENV:Security xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/">'
        '<SOAP-ENV:UsernameToken><SOAP-ENV:Username>USER</SOAP-ENV:Username>'
        '<SOAP-ENV:Password>Pa&amp;ss&lt;word</SOAP-ENV:Password></SOAP-ENV:UsernameToken>'
        '</SOAP-ENV:Security>')

    class Reply:  # what the transport would hand back
        status_code = 200
        headers = {'Content-Type': 'text/xml; charset=utf-8'}
        content = response
        encoding = 'utf-8'

    times = []
    count = 0
    for _ in range(reps):
        t0 = time.perf_counter()
        envelope, _headers = binding._create(
            'rgWsPublicAfmMethod',
            args=({'afmCalledBy': '012345678', 'afmCalledFor': '094019245'}, {}, {}, '0', {}),
            kwargs={'_soapheaders': [security]}, client=client)
        request = etree.tostring(envelope, encoding='utf-8')
        result = binding.process_reply(client, operation, Reply())
        times.append((time.perf_counter() - t0) * 1e6)
        if not request:
            raise SystemExit('empty request')
        acts = result['arrayOfRgWsPublicFirmActRt_out']
        count = len(acts.RgWsPublicFirmActRtUser) if acts is not None else 0
    times.sort()
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f'{times[len(times) // 2]:.1f} {peak} {count}')


main()
