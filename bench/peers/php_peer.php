<?php
// The PHP side of the comparison (bench/compare.sh): SoapClient over the
// WSDL, with __doRequest answering the canned response, so one lookup is
// the request built and serialised and the response parsed, no network.
//   php php_peer.php WSDL RESPONSE_FILE REPETITIONS
// prints: median microseconds, peak resident kilobytes, activities read.

class CannedClient extends SoapClient {
    public $response = '';
    public $sent = 0;
    public function __doRequest($request, $location, $action, $version, $oneWay = false): ?string {
        $this->sent = strlen($request);
        return $this->response;
    }
}

[$self, $wsdl, $file, $reps] = $argv;
$reps = max(1, (int)$reps);
$client = new CannedClient($wsdl, ['trace' => 0, 'cache_wsdl' => WSDL_CACHE_MEMORY,
                                   'features' => SOAP_SINGLE_ELEMENT_ARRAYS]);
$client->response = file_get_contents($file);
$security = new SoapHeader('http://schemas.xmlsoap.org/soap/envelope/', 'Security',
    new SoapVar('<SOAP-ENV:Security><SOAP-ENV:UsernameToken><SOAP-ENV:Username>USER'
        . '</SOAP-ENV:Username><SOAP-ENV:Password>Pa&amp;ss&lt;word</SOAP-ENV:Password>'
        . '</SOAP-ENV:UsernameToken></SOAP-ENV:Security>', XSD_ANYXML));
$times = [];
$count = 0;
for ($i = 0; $i < $reps; $i++) {
    $t0 = hrtime(true);
    $out = $client->__soapCall('rgWsPublicAfmMethod', [
        ['afmCalledBy' => '094019245', 'afmCalledFor' => '998877665'],
        new stdClass(), new stdClass(), '0', new stdClass()], null, $security);
    $times[] = (hrtime(true) - $t0) / 1000.0;
    if ($client->sent == 0) { fwrite(STDERR, "nothing sent\n"); exit(1); }
    $acts = $out['arrayOfRgWsPublicFirmActRt_out'] ?? null;
    $count = ($acts && isset($acts->RgWsPublicFirmActRtUser)) ? count($acts->RgWsPublicFirmActRtUser) : 0;
}
sort($times);
$ru = getrusage();
printf("%.1f %d %d\n", $times[intdiv(count($times), 2)], $ru['ru_maxrss'], $count);
